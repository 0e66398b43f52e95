#pragma once
// The one table of what a return code means and what it does to the center it names.
#include <string>
#include <string_view>
#include <vector>

namespace eft::server::returns {

enum class ReturnCategory {
    MayRetry,        // back in the sweep, at most two retries within 180 days
    Administrative,  // the center's bank account is blocked until corrected
    Unauthorized,    // debits stop until an administrator records a new authorization
    ManualReview,    // never retried by itself
};

struct ReturnCode {
    std::string_view code;     // "R01", "901"
    std::string_view meaning;  // the network's wording, short
    ReturnCategory category;
    int returnDays;  // how long after settlement the network lets it come: 2 banking days, or 60 calendar
    std::string_view french;  // the meaning in French, for the control that asks in French
};

// The code's row; for a code not in the table, a row with category ManualReview and a meaning
// that says the code is unknown.
ReturnCode returnCode(std::string_view code);

// Every row, for documentation and reports.
const std::vector<ReturnCode>& returnCodes();

std::string_view categoryName(ReturnCategory c);  // "may retry", "administrative", ...

// Notification-of-change codes.
struct ChangeCode {
    std::string_view code;
    std::string_view meaning;
};
ChangeCode changeCode(std::string_view code);

}  // namespace eft::server::returns
