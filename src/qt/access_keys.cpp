#include "qt/access_keys_p.h"

#include "qt/translation_p.h"

namespace eft::qt {
namespace {

struct AccessKey {
    std::string_view element;
    int index;
    char key;
};

// Taken on the tabs' pages: L, S, A, D (centers); E, T, C, S (members). The strip's keys work
// from every page. A host's menu bar keeps F, V and H (File, View, Help).
constexpr AccessKey kAccessKeys[] = {
    {"tabEFT", 0, 'o'},     // List &of Centers
    {"tabEFT", 1, 'M'},     // &Membership Sweep
    {"tabEFT", 2, 'x'},     // E&xport Batch
    {"tabEFT", 3, 'U'},     // &Update Batch Status
    {"optCountry", 1, 'i'}, // Un&ited States
    {"optCountry", 2, 'n'}, // Ca&nada
    {"cmdPassedFailed", -1, 'C'},  // &Commit
};

}  // namespace

QString withAccessKey(std::string_view element, int index, std::string_view caption) {
    QString text = translated(caption);
    // A translation carries its own access key, chosen not to clash on its page.
    if (text.contains(QLatin1Char('&')) || currentLanguage() != QStringLiteral("en")) return text;
    for (const AccessKey& k : kAccessKeys) {
        if (k.element != element || k.index != index) continue;
        const qsizetype at = text.indexOf(QLatin1Char(k.key));
        if (at >= 0) text.insert(at, QLatin1Char('&'));
        break;
    }
    return text;
}

}  // namespace eft::qt
