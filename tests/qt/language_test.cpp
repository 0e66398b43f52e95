// The control in French and in English: every text of every page has its French, the access
// keys of a page never clash in either language, amounts and dates keep their one form, the
// boxes of a whole cycle read in French, and the requests name the language to the server.
#include <functional>

#include <QAction>
#include <QMenuBar>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTranslator>

#include "host_window.h"
#include "qt/translation_p.h"
#include "server/pages/reasons.h"
#include "ui/layout.h"
#include "ui/phrases.h"
#include "widget_fixture.h"

namespace eft::qt::test {
namespace {

const QString kEnglish = QStringLiteral("en");
const QString kFrench = QStringLiteral("fr");

// What a text says without its numbers: a text of amounts, dates and ids alone needs no words.
bool hasWords(const QString& text) { return text.contains(QRegularExpression(QStringLiteral("[A-Za-z]"))); }

QString accessKey(const QString& text) {
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != QLatin1Char('&')) continue;
        if (text[i + 1] != QLatin1Char('&')) return QString(text[i + 1].toLower());
        ++i;
    }
    return {};
}

// The French file as built into the library, asked directly: an empty answer is no translation.
const QTranslator& french() {
    static QTranslator* t = [] {
        auto* tr = new QTranslator(QCoreApplication::instance());
        installLanguage(kFrench);  // brings the library's resources in
        installLanguage(kEnglish);
        EXPECT_TRUE(tr->load(QStringLiteral(":/eftmemb/i18n/eftmemb_fr.qm")));
        return tr;
    }();
    return *t;
}

// The source may carry its access key ("&Load Data") or not ("Canada", shown as "Ca&nada").
bool hasFrench(const QString& english) {
    for (const QString& source : {english, withoutAccessKeys(english)})
        if (!french().translate("EFTMemb", source.toUtf8().constData()).isEmpty()) return true;
    return false;
}

// Every text a page shows, by where it is shown: the strip's tabs, the labels and buttons,
// the visible columns' captions, the batch box's entries.
std::map<QString, QString> pageTexts(EftMembWidget& w, int page) {
    std::map<QString, QString> out;
    auto* tabs = qobject_cast<TabControl*>(w.elementWidget(QStringLiteral("tabEFT")));
    for (int i = 0; i < tabs->bar()->count(); ++i)
        if (tabs->bar()->isTabVisible(i)) out[QStringLiteral("tab%1").arg(i)] = tabs->bar()->tabText(i);
    QWidget* p = tabs->page(page);
    for (QWidget* c : p->findChildren<QWidget*>()) {
        if (!c->isVisibleTo(p)) continue;
        const QString where = c->objectName();
        if (auto* l = qobject_cast<QLabel*>(c)) {
            out[where] = l->text();
        } else if (auto* b = qobject_cast<QAbstractButton*>(c)) {
            out[where] = b->text();
        } else if (auto* v = qobject_cast<QTreeView*>(c)) {
            for (int col = 0; col < v->model()->columnCount(); ++col)
                if (!v->isColumnHidden(col))
                    out[where + QStringLiteral(".column%1").arg(col)] = v->model()->headerData(col, Qt::Horizontal).toString();
        } else if (auto* box = qobject_cast<QComboBox*>(c)) {
            for (int i = 0; i < box->count(); ++i) {
                out[where + QStringLiteral(".entry%1").arg(i)] = box->itemText(i);
                out[where + QStringLiteral(".tip%1").arg(i)] = box->itemData(i, Qt::ToolTipRole).toString();
            }
        }
    }
    return out;
}

// The widget after a whole cycle, so the lists, the totals and the batch box hold lines.
class LanguageTest : public WidgetTest {
protected:
    ~LanguageTest() override { widget.setLanguage(kEnglish); }

    void runCycle() {
        serveDemo();
        // The server's own report is no text of the control's.
        server.on("EFTMemberBatch.asp?ProcessExport=True&PersonID=9&PersonTypeID=2", {"<Export>2 / 4</Export>"});
        click("cmdLoadData");
        click("cmdViewCenterDetails");  // nothing ticked: refused with a box
        tick("lstEFTCenter", 0);
        click("cmdViewCenterDetails");
        click("cmdSaveMerchandise");  // nothing ticked
        tick("lstEFTMember", 0);
        answers = {MsgAnswer::No};
        click("cmdSaveMerchandise");
        click("cmdCancelMerchandiseList");
        answers = {MsgAnswer::Yes};
        clickTab(2);
        click("cmdPassedFailed");  // no batch chosen
        element<QComboBox>("cmbBatches")->activated(1);
        answers = {MsgAnswer::No};
        click("cmdPassedFailed");
    }
};

class PageTextTest : public LanguageTest, public ::testing::WithParamInterface<int> {};

// A French text that reads as the English one must be a French word the file has ("Total",
// "Canada"); any other is an English text nobody translated.
TEST_P(PageTextTest, EveryTextHasItsFrench) {
    runCycle();
    const int page = GetParam();
    const auto english = pageTexts(widget, page);
    widget.setLanguage(kFrench);
    const auto inFrench = pageTexts(widget, page);
    ASSERT_EQ(english.size(), inFrench.size());
    int withWords = 0;
    for (const auto& [where, en] : english) {
        const QString fr = inFrench.at(where);
        if (!hasWords(en)) {
            EXPECT_EQ(fr, en) << where.toStdString();
            continue;
        }
        ++withWords;
        EXPECT_TRUE(fr != en || hasFrench(en)) << where.toStdString() << ": " << en.toStdString();
        // Amounts and dates are written as in English: the operator compares them with the bank file.
        static const QRegularExpression figures(QStringLiteral("\\$ ?[0-9,.]+|[0-9]{2}/[0-9]{2}/[0-9]{4}|[A-Z][a-z]{2} [0-9]{2}, [0-9]{4}"));
        QStringList enFigures, frFigures;
        for (auto it = figures.globalMatch(en); it.hasNext();) enFigures << it.next().captured();
        for (auto it = figures.globalMatch(fr); it.hasNext();) frFigures << it.next().captured();
        EXPECT_EQ(frFigures, enFigures) << where.toStdString();
    }
    EXPECT_GT(withWords, 3) << "the page was walked";
    widget.setLanguage(kEnglish);
    EXPECT_EQ(pageTexts(widget, page), english) << "back in English, byte for byte";
}

INSTANTIATE_TEST_SUITE_P(Pages, PageTextTest, ::testing::Values(0, 1, 3),
                         [](const auto& info) { return "Page" + std::to_string(info.param); });

// Every box of the cycle (questions, refusals) reads in French: its title and each line.
TEST_F(LanguageTest, TheCyclesBoxesReadInFrench) {
    runCycle();
    ASSERT_GE(boxes.size(), 6u);
    widget.setLanguage(kFrench);
    for (const MessageBoxRequest& box : boxes) {
        for (const std::string& part : {box.title, box.text}) {
            const QString en = QString::fromStdString(part);
            for (const QString& line : en.split(QStringLiteral("\r\n"))) {
                if (!hasWords(line)) continue;
                EXPECT_NE(translated(line), line) << line.toStdString();
            }
        }
    }
}

// Every caption of the design and every phrase of the core has its French; this fails on a
// new English text as soon as it is added to the design or the phrases.
TEST(LanguageCatalogue, EveryCaptionAndPhraseOfTheCoreHasItsFrench) {
    std::vector<std::string_view> texts(std::begin(ui::kTabCaptions), std::end(ui::kTabCaptions));
    for (const ui::ElementLayout& e : ui::screenLayout()) {
        if (!e.caption.empty()) texts.push_back(e.caption);
        for (const ui::Column& c : e.columns)
            if (!c.caption.empty()) texts.push_back(c.caption);
    }
    const auto phrases = ui::fillablePhrases();
    texts.insert(texts.end(), phrases.begin(), phrases.end());
    for (std::string_view t : texts)
        EXPECT_TRUE(hasFrench(QString::fromUtf8(t.data(), static_cast<qsizetype>(t.size())))) << t;
    // A phrase of blanks and punctuation alone ("%1: %2") would take any text, a server's too.
    static const QRegularExpression blank(QStringLiteral("%[1-9]"));
    for (std::string_view p : phrases)
        EXPECT_TRUE(hasWords(QString::fromUtf8(p.data(), static_cast<qsizetype>(p.size())).remove(blank))) << p;
}

// The phrases are found again in filled texts, their values translated in turn, the figures
// left as they are; English is never touched.
TEST(LanguageCatalogue, FilledPhrasesTranslateAroundTheirValues) {
    struct Case {
        const char* english;
        const char* french;
    };
    const Case cases[] = {
        {"Amount Eligible (Total): $ 1,134.75", "Montant admissible (total) : $ 1,134.75"},
        {"Membership Sweep (Canada)", "&Prélèvement (Canada)"},
        {" Batch # : 57     Exported : 03/05/2011     United States",
         " Lot nº : 57     Exporté le : 03/05/2011     États-Unis"},
        {" Batch # : 58     Exported : ", " Lot nº : 58     Exporté le : "},
        {" Error !  \r\nThe server refused the save (HTTP 409): the sweep changed: 12",
         " Erreur !  \r\nLe serveur a refusé l'enregistrement (HTTP 409) : the sweep changed: 12"},
        {"Loading the United States sweep", "Chargement : le prélèvement (États-Unis)"},
        {"Version: 2.0.7", "Version : 2.0.7"},
        // The server's words stay as they came, colons and all; only ours around them change.
        {"Error: the disk is full", "Error: the disk is full"},
        {"The server refused the save (HTTP 500): record 3: the reply is empty",
         "Le serveur a refusé l'enregistrement (HTTP 500) : record 3: the reply is empty"},
        {"The batch list could not be read: the server's reply could not be read. Tell the server's administrator.",
         "La liste des lots n'a pas pu être lue : la réponse du serveur est illisible. Prévenez l'administrateur du "
         "serveur."},
        {"the sweep row of member 1001, center 0012, source 1, sweep sequence 3 has no Royalty",
         "la ligne de prélèvement du membre 1001, centre 0012, source 1, séquence 3 n'a pas de Royalty"},
        {"Reading x: record 2, Jane Doe, member 5: the reply is empty",
         "Lecture de x : enregistrement 2, Jane Doe, member 5 : la réponse est vide"},
        // A chosen row: the ids and words are ours, the member's name (its ", " too) is data.
        {"Nothing was saved: the chosen row of center 0007, Tremblay, Marie-Ève, 12/06/2026, amount 10.00 has no "
         "ConversionRate.",
         "Rien n'a été enregistré : la ligne choisie (centre 0007, Tremblay, Marie-Ève, 12/06/2026, montant 10.00) "
         "n'a pas de ConversionRate."},
        {"the chosen row of center 0007, Royalty, Ann has no MemberID",
         "la ligne choisie (centre 0007, Royalty, Ann) n'a pas de MemberID"},
        {"the chosen row of member 1001 of center 0012 (sweep sequence 3) has no MemberID",
         "la ligne choisie (membre 1001 du centre 0012, séquence 3) n'a pas de MemberID"},
        {"the chosen row of member 5 of center (none) has no ConversionRate",
         "la ligne choisie (membre 5 du centre (aucun)) n'a pas de ConversionRate"},
        {"The member list is not complete: the sweep row has no CenterID.",
         "La liste des membres n'est pas complète : la ligne de prélèvement n'a pas de CenterID."},
        {"Nothing was saved: rsSweep: the table is not open.",
         "Rien n'a été enregistré : rsSweep : la table n'est pas ouverte."},
        {"rsBatch: there is no field named \"Due In\"", "rsBatch : aucun champ ne s'appelle \"Due In\""},
        {"first\r\n… (3 more lines)", "first\r\n… (3 lignes de plus)"},
        {"a text of nobody's", "a text of nobody's"},
        {"", ""},
    };
    (void)french();
    for (const Case& c : cases) {
        const QString en = QString::fromUtf8(c.english);
        installLanguage(kEnglish);
        EXPECT_EQ(translated(en), en);
        installLanguage(kFrench);
        EXPECT_EQ(translated(en).toStdString(), c.french) << c.english;
    }
    installLanguage(kEnglish);
}

// A failure's technical details in French: the control's own words around what came from
// outside (libcurl's and expat's texts, the server's body), which stays as it came. `english`
// is the whole of the details, its captures that outside text; `french` the same details with
// %1, %2, ... for the captures. The plain line above them reads in French too.
class FailureDetailsTest;
struct DetailsCase {
    const char* name;
    void (*fail)(FailureDetailsTest&);
    const char* english;
    const char* french;
};

class FailureDetailsTest : public LanguageTest, public ::testing::WithParamInterface<DetailsCase> {
public:
    void load(const eft::test::CannedServer::Reply& reply) {
        server.on("EFTMember.asp?countryID=1&Load=1", reply);
        click("cmdLoadData");
    }
    void unreachable() {
        widget.setVariables(QStringLiteral("http://127.0.0.1:1/eft/"), 9, 2);
        click("cmdLoadData");
    }
    // A sweep whose first row has `field` at `value`.
    void loadRowWith(const char* field, const char* value) {
        load({eft::test::sweepReply({sweepRow(1001, 12, "10.5", "0", {{field, value}})})});
    }
    void saveRefused(const char* body = "Database down\r\nstale rows") {
        serveDemo();
        server.on("EFTMember.asp", {body, 500});
        save();
    }
    void saveUnreachable() {
        serveDemo();
        save([this] { widget.setVariables(QStringLiteral("http://127.0.0.1:1/eft/"), 9, 2); });
    }
    void save(const std::function<void()>& beforeSave = {}) {
        click("cmdLoadData");
        tick("lstEFTCenter", 0);
        click("cmdViewCenterDetails");
        tick("lstEFTMember", 0);
        if (beforeSave) beforeSave();
        answers = {MsgAnswer::Yes};
        click("cmdSaveMerchandise");
    }
};

TEST_P(FailureDetailsTest, AreFrenchAroundTheOutsideText) {
    const DetailsCase& c = GetParam();
    c.fail(*this);
    ASSERT_FALSE(boxes.empty());
    const MessageBoxRequest box = boxes.back();
    const QString en = QString::fromStdString(box.details);
    const QRegularExpressionMatch m =
        QRegularExpression(QRegularExpression::anchoredPattern(QString::fromUtf8(c.english)),
                           QRegularExpression::DotMatchesEverythingOption)
            .match(en);
    ASSERT_TRUE(m.hasMatch()) << box.details;
    EXPECT_EQ(translated(en), en) << "in English the details are the core's";
    widget.setLanguage(kFrench);
    QString french = QString::fromUtf8(c.french);
    for (int i = m.lastCapturedIndex(); i >= 1; --i) french.replace(QLatin1Char('%') + QString::number(i), m.captured(i));
    EXPECT_EQ(translated(en).toStdString(), french.toStdString());
    for (const QString& line : QString::fromStdString(box.text).split(QStringLiteral("\r\n")))
        if (hasWords(line)) {
            EXPECT_NE(translated(line), line);
        }
}

const DetailsCase kDetailsCases[] = {
    {"NotXml", [](FailureDetailsTest& t) { t.load({"<<"}); },
     R"(GET (\S+)\r\nReading \1: the reply is not XML \((.+) at byte (\d+)\))",
     "GET %1\r\nLecture de %1 : la réponse n'est pas du XML (%2 à l'octet %3)"},
    {"EmptyReply", [](FailureDetailsTest& t) { t.load({""}); },
     R"(GET (\S+)\r\nReading \1: the reply is empty)", "GET %1\r\nLecture de %1 : la réponse est vide"},
    {"ServerFailed", [](FailureDetailsTest& t) { t.load({"<Rows/>", 503}); },
     R"(GET (\S+)\r\nReading \1: the page could not be fetched \(the server answered HTTP 503\))",
     "GET %1\r\nLecture de %1 : la page n'a pas pu être obtenue (le serveur a répondu HTTP 503)"},
    {"Unreachable", [](FailureDetailsTest& t) { t.unreachable(); },
     R"(GET (\S+)\r\nReading \1: the page could not be fetched \((.+)\))",
     "GET %1\r\nLecture de %1 : la page n'a pas pu être obtenue (%2)"},
    {"SaveRefused", [](FailureDetailsTest& t) { t.saveRefused(); },
     R"(POST (\S+)\r\nthe server answered HTTP 500\r\n\r\n(Database down\r\nstale rows))",
     "POST %1\r\nle serveur a répondu HTTP 500\r\n\r\n%2"},
    {"SaveRefusedWithColons", [](FailureDetailsTest& t) { t.saveRefused("Error: the disk is full\r\nTotal: 3"); },
     R"(POST (\S+)\r\nthe server answered HTTP 500\r\n\r\n(Error: the disk is full\r\nTotal: 3))",
     "POST %1\r\nle serveur a répondu HTTP 500\r\n\r\n%2"},
    // libcurl's words alone under the request line, with a colon of their own.
    {"SaveUnreachable", [](FailureDetailsTest& t) { t.saveUnreachable(); }, R"(POST (\S+)\r\n([^\r\n]*:[^\r\n]*))",
     "POST %1\r\nla page n'a pas pu être obtenue (%2)"},
    // A value its field cannot take: the field's name (GST has a French caption) and the value
    // stay as they came, the row and the type are said in French.
    {"NotASingle", [](FailureDetailsTest& t) { t.loadRowWith("GST", "1.2.3"); },
     R"(GET (\S+)\r\nReading \1: record 1, the sweep row of member 1001, center 0012, source 1, sweep sequence 1: )"
     R"(rsSweep: the value "1\.2\.3" is not a valid single for the field GST)",
     "GET %1\r\nLecture de %1 : enregistrement 1, la ligne de prélèvement du membre 1001, centre 0012, source 1, "
     "séquence 1 : rsSweep : la valeur \"1.2.3\" n'est pas un nombre simple précision valide pour le champ GST"},
    {"NotABoolean", [](FailureDetailsTest& t) { t.loadRowWith("SalesTaxExempt", "maybe"); },
     R"(GET (\S+)\r\nReading \1: record 1, .*: rsSweep: the value "maybe" is not a valid Boolean for the field )"
     R"(SalesTaxExempt)",
     "GET %1\r\nLecture de %1 : enregistrement 1, la ligne de prélèvement du membre 1001, centre 0012, source 1, "
     "séquence 1 : rsSweep : la valeur \"maybe\" n'est pas un booléen valide pour le champ SalesTaxExempt"},
    {"CentsNotHeld", [](FailureDetailsTest& t) { t.loadRowWith("NAC", "1e39"); },
     R"(GET (\S+)\r\nReading \1: record 1, .*: rsSweep: the value "1e39" of the field NAC cannot be held to )"
     R"(the cent \(it is beyond single precision\))",
     "GET %1\r\nLecture de %1 : enregistrement 1, la ligne de prélèvement du membre 1001, centre 0012, source 1, "
     "séquence 1 : rsSweep : la valeur \"1e39\" du champ NAC ne peut pas être tenue au cent près (elle dépasse la "
     "simple précision)"},
};

INSTANTIATE_TEST_SUITE_P(Failures, FailureDetailsTest, ::testing::ValuesIn(kDetailsCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The requests name the control's language, so the server's reasons come in it.
TEST_F(LanguageTest, RequestsNameTheLanguage) {
    serveDemo();
    for (const QString& lang : {kFrench, kEnglish}) {
        widget.setLanguage(lang);
        EXPECT_EQ(widget.language(), lang);
        const std::size_t before = server.requests().size();
        widget.reload(1);
        const auto requests = server.requests();
        ASSERT_GT(requests.size(), before);
        EXPECT_EQ(requests.back().acceptLanguage, lang.toStdString());
    }
}

// The server words a refused save or commit in the language the control asks for; English is
// the default and its wording is left as it is.
TEST(ServerReasons, ComeInTheLanguageAsked) {
    using server::reasons::Reason;
    using server::reasons::text;
    const std::string record = text(Reason::Record, {"1", "1001", "12", "1", "2"});
    struct Case {
        std::string english;
        const char* acceptLanguage;
        const char* expected;  // nullptr: the English as it is
    };
    const Case cases[] = {
        {text(Reason::CenterChanged, {"0101"}), "fr-CA,fr;q=0.9,en;q=0.8",
         "Le prélèvement du centre 0101 a changé depuis son chargement ; rechargez-le."},
        {text(Reason::CenterChanged, {"0101"}), "", nullptr},
        {text(Reason::CenterChanged, {"0101"}), "en-US,en;q=0.9,fr;q=0.5", nullptr},
        {text(Reason::CenterChanged, {"0101"}), "fr;q=0, en", nullptr},
        {text(Reason::CenterChanged, {"0101"}), "en;q=0.4, FR-ca", "Le prélèvement du centre 0101 a changé depuis son chargement ; rechargez-le."},
        {text(Reason::StampNotOurs, {"42"}), "fr",
         "Le tampon de prélèvement 42 ne vient pas de ce serveur ; rechargez le prélèvement."},
        {text(Reason::NoSuchCharge, {record}), "fr",
         "Enregistrement SQL1 : membre 1001 du centre 12 (source 1, séquence 2) n'est pas dans le prélèvement "
         "(frais inconnu)"},
        {text(Reason::CenterFull, {record, "0012", "99,999,999.99", "99,999,999.99"}), "fr",
         "Enregistrement SQL1 : membre 1001 du centre 12 (source 1, séquence 2) porterait le montant enregistré du "
         "centre 0012 à 99,999,999.99, plus qu'une écriture du fichier bancaire n'en porte (99,999,999.99) ; "
         "enregistrez-en moins de lignes"},
        {text(Reason::BatchIncomplete, {"57", "1002", "12"}), "fr",
         "Le lot 57 n'est pas complet dans cette mise à jour : le membre 1002 du centre 12 attend son état et n'est "
         "pas nommé ; rien n'a été changé"},
        {"Server error: the disk is full", "fr", nullptr},
    };
    for (const Case& c : cases) {
        const std::string got = server::reasons::inLanguage(c.english, c.acceptLanguage);
        EXPECT_EQ(got, c.expected ? std::string(c.expected) : c.english) << c.english << " / " << c.acceptLanguage;
    }
    EXPECT_EQ(text(Reason::CenterChanged, {"0101"}), "The sweep of center 0101 changed since it was loaded; load it again.");
}

// Alt+letter: within each page, the strip, the page's buttons and the host's menus never
// share a letter, and every button has one, in both languages.
class AccessKeyTest : public ::testing::TestWithParam<std::tuple<QString, int>> {};

TEST_P(AccessKeyTest, NoTwoShareALetter) {
    const auto& [lang, page] = GetParam();
    QStandardPaths::setTestModeEnabled(true);
    eft::host::HostWindow window(9, 2);
    window.setLanguage(lang);
    ASSERT_EQ(window.control()->language(), lang);
    QStringList keys;
    for (QAction* menu : window.menuBar()->actions()) keys << accessKey(menu->text());
    auto* tabs = qobject_cast<TabControl*>(window.control()->elementWidget(QStringLiteral("tabEFT")));
    for (int i = 0; i < tabs->bar()->count(); ++i) keys << accessKey(tabs->bar()->tabText(i));
    QWidget* p = tabs->page(page);
    for (auto* b : p->findChildren<QAbstractButton*>()) {
        if (!b->isVisibleTo(p)) continue;
        EXPECT_FALSE(accessKey(b->text()).isEmpty()) << b->text().toStdString();
        keys << accessKey(b->text());
    }
    EXPECT_FALSE(keys.contains(QString())) << keys.join(' ').toStdString();
    QStringList unique = keys;
    unique.removeDuplicates();
    EXPECT_EQ(keys.size(), unique.size()) << keys.join(' ').toStdString();
    window.setLanguage(kEnglish);
}

INSTANTIATE_TEST_SUITE_P(PagesAndLanguages, AccessKeyTest,
                         ::testing::Combine(::testing::Values(kEnglish, kFrench), ::testing::Values(0, 1, 3)),
                         [](const auto& info) {
                             return std::get<0>(info.param).toStdString() + "_Page" +
                                    std::to_string(std::get<1>(info.param));
                         });

}  // namespace
}  // namespace eft::qt::test
