// Credentials in the base address: whatever the user part holds, no text the control shows
// carries it, and the transfers still send it.
#include <gtest/gtest.h>

#include "net/address.h"
#include "support/control_fixture.h"

namespace eft::test {
namespace {

// Every character a URL's user part may hold (unreserved, sub-delimiters, ':' in the
// password, percent-encoded octets), and the blank that curl reads only when asked to.
const std::vector<std::string> kUserPartCharacters = [] {
    std::vector<std::string> out;
    for (char c : std::string("AZaz09-._~!$&'()*+,;=")) out.emplace_back(1, c);
    for (const char* encoded : {"%20", "%40", "%3A", "%2F", "%25", "%C3%A9", " "}) out.emplace_back(encoded);
    return out;
}();

std::string secretAddress(const std::string& c) { return "http://op" + c + "er:pa" + c + "ss@127.0.0.1:9/eft/"; }

TEST(Address, EveryUserPartCharacterLeavesWithTheCredentials) {
    for (const auto& c : kUserPartCharacters) {
        const std::string address = secretAddress(c);
        EXPECT_EQ(redactedAddress(address), "http://127.0.0.1:9/eft/") << address;
        const std::string said = redactedText("Reading " + address + "EFTMember.asp?Load=1: failed (timeout); 'x'");
        EXPECT_EQ(said, "Reading http://127.0.0.1:9/eft/EFTMember.asp?Load=1: failed (timeout); 'x'") << address;
    }
}

TEST(Address, TextKeepsEverythingButTheUserPart) {
    const struct {
        const char* text;
        const char* redacted;
    } cases[] = {
        {"http://u:p@h:81/eft/", "http://h:81/eft/"},
        {"https://name@host/", "https://host/"},
        {"http://h/eft/a@b?x=@", "http://h/eft/a@b?x=@"},
        {"Reading http://u:p%40w@h/x: failed; see https://a:b@c", "Reading http://h/x: failed; see https://c"},
        {"no address here: user@host", "no address here: user@host"},
        {"http://h:9 refused\nmail admin@x", "http://h:9 refused\nmail admin@x"},
    };
    for (const auto& c : cases) EXPECT_EQ(redactedText(c.text), c.redacted) << c.text;
}

TEST(Address, CredentialsGoInAndComeOutDecoded) {
    for (const auto& c : kUserPartCharacters) {
        const Credentials in{"op" + c + "er", "pa" + c + ":ss@"};
        const std::string address = withCredentials("http://127.0.0.1:9/eft/", in);
        const Credentials out = credentialsOf(address);
        // An encoded octet is taken as written by the host, so it comes back as the octet.
        EXPECT_EQ(credentialsOf(withCredentials("http://127.0.0.1:9/eft/", out)).password, out.password) << address;
        EXPECT_EQ(redactedAddress(address), "http://127.0.0.1:9/eft/") << address;
        if (c.front() != '%') {
            EXPECT_EQ(out.user, in.user) << address;
            EXPECT_EQ(out.password, in.password) << address;
        }
    }
    EXPECT_EQ(withCredentials("http://u:p@h/eft/", {}), "http://h/eft/");
}

// The failure box and the error notice of a load from such an address.
class AddressInFailureTest : public ControlTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(AddressInFailureTest, LoadFailureNamesTheServerWithoutThePassword) {
    control->SetVariables(secretAddress(GetParam()), 7, 2);
    ASSERT_TRUE(screen().cmdLoadData.operatorClick());
    ASSERT_EQ(host.shown().size(), 1u);
    const MessageBoxRequest& box = host.shown()[0].request;
    EXPECT_NE(box.details.find("127.0.0.1:9"), std::string::npos) << box.details;
    for (const std::string* shown : {&box.text, &box.details}) {
        EXPECT_EQ(shown->find("pa" + GetParam() + "ss"), std::string::npos) << *shown;
        EXPECT_EQ(shown->find("ss@"), std::string::npos) << *shown;
    }
}

INSTANTIATE_TEST_SUITE_P(UserPart, AddressInFailureTest, ::testing::ValuesIn(kUserPartCharacters),
                         [](const auto& info) { return "char" + std::to_string(info.index); });

}  // namespace
}  // namespace eft::test
