#include "server/pages/reasons.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace eft::server::reasons {
namespace {

struct Row {
    Reason reason;
    std::string_view english;
    std::string_view french;
};

// The refused rows' reasons end with the record, whose words come from the Record row.
constexpr Row kReasons[] = {
    {Reason::StampNotOurs, "The sweep stamp %1 was not given by this server; load the sweep again.",
     "Le tampon de prélèvement %1 ne vient pas de ce serveur ; rechargez le prélèvement."},
    {Reason::CenterChanged, "The sweep of center %1 changed since it was loaded; load it again.",
     "Le prélèvement du centre %1 a changé depuis son chargement ; rechargez-le."},
    {Reason::NoSuchCharge, "%1is not in the sweep (no such charge)",
     "%1n'est pas dans le prélèvement (frais inconnu)"},
    {Reason::AlreadySaved, "%1is not in the sweep (already saved)",
     "%1n'est pas dans le prélèvement (déjà enregistré)"},
    {Reason::AlreadyExported, "%1is not in the sweep (already exported in a batch)",
     "%1n'est pas dans le prélèvement (déjà exporté dans un lot)"},
    {Reason::AlreadyCleared, "%1is not in the sweep (already cleared)",
     "%1n'est pas dans le prélèvement (déjà compensé)"},
    {Reason::TotalTooLarge, "%1has a Total %2",
     "%1a un total de 131,072.00 ou plus, le plus grand montant qui se garde au cent près"},
    {Reason::CenterFull,
     "%1would take the saved amount of center %2 to %3, more than one bank file entry carries (%4); save fewer "
     "rows of it",
     "%1porterait le montant enregistré du centre %2 à %3, plus qu'une écriture du fichier bancaire n'en porte "
     "(%4) ; enregistrez-en moins de lignes"},
    {Reason::SaveFailed, "The save failed, nothing was saved: %1",
     "L'enregistrement a échoué, rien n'a été enregistré : %1"},
    {Reason::NoSuchBatch, "Batch %1 does not exist", "Le lot %1 n'existe pas"},
    {Reason::NothingWaiting, "Member %1 has no item waiting for its status in batch %2",
     "Le membre %1 n'a aucun élément en attente de son état dans le lot %2"},
    {Reason::ReturnedNotCleared,
     "Member %1 cannot be recorded as cleared in batch %2: the bank returned center %3 (%4, %5); nothing was changed",
     "Le membre %1 ne peut pas être inscrit comme compensé dans le lot %2 : la banque a retourné le centre %3 (%4, "
     "%5) ; rien n'a été modifié"},
    {Reason::BatchIncomplete,
     "Batch %1 is not complete in this status update: member %2 of center %3 is waiting for its status and is "
     "not named; nothing was changed",
     "Le lot %1 n'est pas complet dans cette mise à jour : le membre %2 du centre %3 attend son état et n'est pas "
     "nommé ; rien n'a été changé"},
    {Reason::StatusFailed, "The status update failed, nothing was changed: %1",
     "La mise à jour de l'état a échoué, rien n'a été changé : %1"},
    {Reason::Record, "Record SQL%1: member %2 at center %3 (source %4, sequence %5) ",
     "Enregistrement SQL%1 : membre %2 du centre %3 (source %4, séquence %5) "},
};

const Row& rowOf(Reason reason) {
    return *std::find_if(std::begin(kReasons), std::end(kReasons), [reason](const Row& r) { return r.reason == reason; });
}

std::string fill(std::string_view pattern, const std::vector<std::string>& values) {
    std::string out;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] >= '1' && pattern[i + 1] <= '9') {
            const auto n = static_cast<std::size_t>(pattern[i + 1] - '1');
            if (n < values.size()) {
                out += values[n];
                ++i;
                continue;
            }
        }
        out += pattern[i];
    }
    return out;
}

// The values of `text` in the blanks of `pattern`, or nothing when it is not its filling. Each
// blank but the last takes the shortest text that lets the rest match.
bool match(std::string_view pattern, std::string_view text, std::vector<std::string>& values) {
    if (pattern.empty()) return text.empty();
    if (pattern.size() >= 2 && pattern[0] == '%' && pattern[1] >= '1' && pattern[1] <= '9') {
        const auto n = static_cast<std::size_t>(pattern[1] - '1');
        if (values.size() <= n) values.resize(n + 1);
        for (std::size_t take = 0; take <= text.size(); ++take) {
            values[n] = std::string(text.substr(0, take));
            if (match(pattern.substr(2), text.substr(take), values)) return true;
        }
        return false;
    }
    return !text.empty() && text.front() == pattern.front() && match(pattern.substr(1), text.substr(1), values);
}

// A reason's record part ("Record SQL1: member ... ") in French, when it is one.
std::string recordInFrench(const std::string& english) {
    std::vector<std::string> v;
    const Row& r = rowOf(Reason::Record);
    return match(r.english, english, v) ? fill(r.french, v) : english;
}

}  // namespace

std::string text(Reason reason, std::initializer_list<std::string_view> values) {
    return fill(rowOf(reason).english, std::vector<std::string>(values.begin(), values.end()));
}

bool failure(std::string_view reason) {
    std::vector<std::string> v;
    return match(rowOf(Reason::SaveFailed).english, reason, v) || match(rowOf(Reason::StatusFailed).english, reason, v);
}

bool prefersFrench(std::string_view header) {
    // The languages with their weights; the first of the highest weight wins.
    double french = -1, english = -1;
    std::size_t start = 0;
    while (start <= header.size()) {
        std::size_t end = header.find(',', start);
        if (end == std::string_view::npos) end = header.size();
        std::string_view item = header.substr(start, end - start);
        start = end + 1;
        double q = 1;
        if (const std::size_t semi = item.find(';'); semi != std::string_view::npos) {
            std::string_view param = item.substr(semi + 1);
            item = item.substr(0, semi);
            while (!param.empty() && param.front() == ' ') param.remove_prefix(1);
            if (param.starts_with("q=") || param.starts_with("Q=")) {
                const std::string number(param.substr(2));
                try {
                    q = std::stod(number);
                } catch (const std::exception&) {
                    q = 0;
                }
            }
        }
        while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
        while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
        std::string lang;
        for (char c : item.substr(0, item.find('-'))) lang += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (lang == "fr" && q > french) french = q;
        if ((lang == "en" || lang == "*") && q > english) english = q;
    }
    return french > 0 && french > english;
}

std::string inLanguage(std::string_view reason, std::string_view acceptLanguage) {
    if (reason.empty() || !prefersFrench(acceptLanguage)) return std::string(reason);
    for (const Row& r : kReasons) {
        if (r.reason == Reason::Record) continue;
        std::vector<std::string> values;
        if (!match(r.english, reason, values)) continue;
        if (r.english.starts_with("%1") && !values.empty()) values[0] = recordInFrench(values[0]);
        return fill(r.french, values);
    }
    return std::string(reason);
}

}  // namespace eft::server::reasons
