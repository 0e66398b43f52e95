#include "qt/accessible_texts_p.h"

#include "qt/translation_p.h"
#include "ui/phrases.h"

namespace eft::qt {
namespace {

constexpr AccessibleText kTexts[] = {
    {"tabEFT", -1, EFT_TR_NOOP("EFTMemb", "Steps"),
     EFT_TR_NOOP("EFTMemb", "The four steps: the centers, their members, the export and the batch status.")},
    {"fraCenterList", -1, EFT_TR_NOOP("EFTMemb", "Centers ready for EFT"), ""},
    {"lstEFTCenter", -1, EFT_TR_NOOP("EFTMemb", "Centers ready for EFT"),
     EFT_TR_NOOP("EFTMemb", "Tick the centers whose members you review; Space ticks the current line.")},
    {"lblGrandTotal", -1, "",
     EFT_TR_NOOP("EFTMemb", "What the listed centers bring in; read again when it changes.")},
    {"cmdLoadData", -1, "", EFT_TR_NOOP("EFTMemb", "Loads the sweep of the chosen country.")},
    {"cmdSelectAllCenters", -1, "", EFT_TR_NOOP("EFTMemb", "Ticks every center.")},
    {"cmdDeSelectAllCenters", -1, "", EFT_TR_NOOP("EFTMemb", "Unticks every center.")},
    {"optCountry", 1, "", EFT_TR_NOOP("EFTMemb", "Loads the United States sweep.")},
    {"optCountry", 2, "", EFT_TR_NOOP("EFTMemb", "Loads the Canadian sweep.")},
    {"cmdViewCenterDetails", -1, "", EFT_TR_NOOP("EFTMemb", "Shows the member charges of the ticked centers.")},
    {"lblVersionCentertab", -1, "", EFT_TR_NOOP("EFTMemb", "The control's version.")},
    {"fraCenterDetails", -1, EFT_TR_NOOP("EFTMemb", "Member charges"), ""},
    {"lstEFTMember", -1, EFT_TR_NOOP("EFTMemb", "Member charges"),
     EFT_TR_NOOP("EFTMemb", "Tick the charges to save; Space ticks the current line.")},
    {"lblMerchandiseEligible", -1, "",
     EFT_TR_NOOP("EFTMemb", "The total of the listed charges; read again when it changes.")},
    {"lblMerchandiseSelected", -1, "",
     EFT_TR_NOOP("EFTMemb", "The total of the ticked charges; read again when it changes.")},
    {"cmdSelectAllMerchandise", -1, "", EFT_TR_NOOP("EFTMemb", "Ticks every charge.")},
    {"cmdDeSelectAllMerchandise", -1, "", EFT_TR_NOOP("EFTMemb", "Unticks every charge.")},
    {"cmdSaveMerchandise", -1, "", EFT_TR_NOOP("EFTMemb", "Saves the ticked charges.")},
    {"cmdCancelMerchandiseList", -1, "", EFT_TR_NOOP("EFTMemb", "Goes back to the centers without saving.")},
    {"lblVersionMerchandise", -1, "", EFT_TR_NOOP("EFTMemb", "The control's version.")},
    {"cmbBatches", -1, EFT_TR_NOOP("EFTMemb", "Batch number"),
     EFT_TR_NOOP("EFTMemb", "The exported batch whose status you set.")},
    {"Frame2", -1, EFT_TR_NOOP("EFTMemb", "Centers of the batch"), ""},
    {"lstBatchDetails", -1, EFT_TR_NOOP("EFTMemb", "Centers of the batch"),
     EFT_TR_NOOP("EFTMemb", "Tick the centers that cleared; the others are recorded as failed.")},
    {"cmdPassedFailed", -1, "",
     EFT_TR_NOOP("EFTMemb", "Records the ticked centers as cleared and the others as failed.")},
};

// Each list's line: which columns it reads, in what words.
struct LinePhrase {
    std::string_view list;
    std::string_view phrase;
    int columns[4];
};

constexpr LinePhrase kLines[] = {
    {"lstEFTCenter", EFT_TR_NOOP("EFTMemb", "Center %1, %2, Due In %3, %4"), {1, 2, 3, -1}},
    {"lstEFTMember", EFT_TR_NOOP("EFTMemb", "Member %1, %2, %3, Total %4, %5"), {3, 12, 1, 5}},
    {"lstBatchDetails", EFT_TR_NOOP("EFTMemb", "Center %1, %2, Amount %3, %4"), {1, 2, 3, -1}},
};

}  // namespace

const AccessibleText* accessibleText(std::string_view element, int index) {
    for (const AccessibleText& t : kTexts)
        if (t.element == element && t.index == index) return &t;
    return nullptr;
}

QString spokenLine(std::string_view list, const QStringList& columns, bool ticked) {
    const QString tick =
        translated(ticked ? EFT_TR_NOOP("EFTMemb", "selected") : EFT_TR_NOOP("EFTMemb", "not selected"));
    for (const LinePhrase& l : kLines) {
        if (l.list != list) continue;
        QStringList values;
        for (int c : l.columns)
            if (c >= 0) values << columns.value(c);
        values << tick;
        return filled(l.phrase, values);
    }
    return QStringList(columns.mid(1) << tick).join(QStringLiteral(", "));
}

}  // namespace eft::qt
