// The control's own API without the widget, found through pkg-config: a host with its own
// services creates the control, hands it the server and the operator, and uses its form-field
// encoder. Every name it uses must be exported by the widget library.
#include <cstdio>
#include <eftmemb/control.h>
#include <eftmemb/version.h>

static_assert(EFTMEMB_VERSION >= EFTMEMB_VERSION_CHECK(2, 0, 0));

namespace {

class Host : public eft::HostServices {
public:
    eft::MsgAnswer messageBox(const eft::MessageBoxRequest&) override { return eft::MsgAnswer::Ok; }
    void setMousePointer(eft::ui::MousePointer) override {}
    void processEvents() override {}
    bool setFocus(const std::string&) override { return false; }
    eft::Date today() override { return {2026, 12, 6}; }
};

}  // namespace

int main() {
    Host host;
    eft::ControlOptions options;
    options.limits.getTimeout = std::chrono::seconds(5);
    eft::EFTMemb control(host, options);
    control.SetVariables("http://127.0.0.1:1/eft/", 9, 2);
    std::printf("core %s (%s) encodes %s\n", eft::libraryVersion().c_str(), EFTMEMB_VERSION_STRING,
                control.urlEncode("a b&c").c_str());
    return 0;
}
