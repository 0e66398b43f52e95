#include "server/returns/corrections.h"

#include <algorithm>
#include <cctype>

namespace eft::server::returns {
namespace {

std::string trimmed(std::string_view s) {
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    return std::string(s);
}

// The data's characters [from, from + length), 0-based; blanks past its end.
std::string_view part(std::string_view data, std::size_t from, std::size_t length) {
    if (from >= data.size()) return {};
    return data.substr(from, length);
}

bool digits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

bool blank(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c == ' '; });
}

// An account number: letters, digits, hyphens, no inner blank.
bool accountText(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '-';
    });
}

// The kind of account a NACHA transaction code names: 2x a checking account, 3x a savings one.
std::string accountTypeOf(std::string_view code) {
    if (!digits(code) || code.size() != 2) return {};
    if (code[0] == '2') return "checking";
    if (code[0] == '3') return "savings";
    return {};
}

struct Reader {
    ParsedCorrection out;
    void refuse(std::string why) {
        if (out.refused.empty()) out.refused = std::move(why);
        out.changes.clear();
    }
    void routing(std::string_view s) {
        if (!out.refused.empty()) return;
        if (s.size() == 9 && digits(s)) out.changes.push_back({std::string(kFieldRouting), std::string(s)});
        else refuse("\"" + std::string(s) + "\" is not a routing number (9 digits)");
    }
    void account(std::string_view raw) {
        if (!out.refused.empty()) return;
        const std::string s = trimmed(raw);
        if (accountText(s)) out.changes.push_back({std::string(kFieldAccount), s});
        else refuse("\"" + std::string(raw) + "\" does not read as one account number");
    }
    void type(std::string_view s) {
        if (!out.refused.empty()) return;
        if (std::string t = accountTypeOf(s); !t.empty()) out.changes.push_back({std::string(kFieldAccountType), t});
        else refuse("\"" + std::string(s) + "\" is not a transaction code of a checking or savings account");
    }
};

}  // namespace

ParsedCorrection parseCorrection(std::string_view code, std::string_view data) {
    Reader r;
    if (code == "C01") {
        r.account(part(data, 0, 17));
    } else if (code == "C02") {
        r.routing(trimmed(part(data, 0, 9)));
    } else if (code == "C03") {
        // Routing (9), three blanks, account (17).
        if (!blank(part(data, 9, 3))) r.refuse("the routing number and the account are not three blanks apart");
        else {
            r.routing(part(data, 0, 9));
            r.account(part(data, 12, 17));
        }
    } else if (code == "C04") {
        const std::string name = trimmed(part(data, 0, 22));
        if (name.empty()) r.refuse("no name");
        else r.out.changes.push_back({std::string(kFieldName), name});
    } else if (code == "C05") {
        r.type(trimmed(part(data, 0, 2)));
    } else if (code == "C06") {
        // Account (17), three blanks, transaction code (2).
        if (!blank(part(data, 17, 3))) r.refuse("the account and the transaction code are not three blanks apart");
        else {
            r.account(part(data, 0, 17));
            r.type(part(data, 20, 2));
        }
    } else if (code == "C07") {
        // Routing (9), account (17), transaction code (2), with nothing after.
        if (data.size() < 28 || !blank(part(data, 28, data.size())))
            r.refuse("the data is not a routing number, an account and a transaction code");
        else {
            r.routing(part(data, 0, 9));
            r.account(part(data, 9, 17));
            r.type(part(data, 26, 2));
        }
    } else if (code == "C09") {
        const std::string id = trimmed(part(data, 0, 22));
        if (id.empty()) r.refuse("no identification number");
        else r.out.changes.push_back({std::string(kFieldIdentification), id});
    } else {
        r.refuse("change code " + std::string(code) + " is not one this server reads");
    }
    return r.out;
}

}  // namespace eft::server::returns
