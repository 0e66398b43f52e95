#include "qt/translation_p.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QPointer>
#include <QRegularExpression>
#include <QTranslator>
#include <vector>

#include "ui/phrases.h"

// The translations are a resource of this library; a static link keeps them only when named.
static void initTranslationResources() { Q_INIT_RESOURCE(eftmemb_translations); }

namespace eft::qt {
namespace {

struct Installed {
    QString language = QStringLiteral("en");
    QPointer<QTranslator> ours;
    QPointer<QTranslator> qtbase;
    bool chosen = false;
};

Installed& installed() {
    static Installed state;
    return state;
}

const QByteArray& context() {
    static const QByteArray name(ui::kTextContext.data(), static_cast<qsizetype>(ui::kTextContext.size()));
    return name;
}

QString toQString(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// The translation of exactly this text; null when there is none or it reads the same.
QString lookup(const QString& text) {
    const QByteArray source = text.toUtf8();
    const QString t = QCoreApplication::translate(context().constData(), source.constData());
    return t == text ? QString() : t;
}

struct Phrase {
    QString source;
    QRegularExpression pattern;
    unsigned data;   // the blanks shown as they came (bit 0: %1)
    unsigned mixed;  // the blanks listing ids of ours around data
};

// Each fillable phrase as a pattern: its words literally, each blank a group.
const std::vector<Phrase>& phrases() {
    static const std::vector<Phrase> all = [] {
        std::vector<Phrase> out;
        static const QRegularExpression blank(QStringLiteral("%[1-9]"));
        for (std::string_view p : ui::fillablePhrases()) {
            const QString source = toQString(p);
            const unsigned data = ui::dataBlanks(p);
            const unsigned mixed = ui::mixedBlanks(p);
            QString pattern = QStringLiteral("^");
            qsizetype at = 0;
            auto it = blank.globalMatch(source);
            int blanks = 0;
            while (it.hasNext()) {
                const auto m = it.next();
                pattern += QRegularExpression::escape(source.mid(at, m.capturedStart() - at));
                // A name that opens a phrase ("rsSweep: the value ...") is one word: the phrase
                // must not take the words of ours that stand before it in the line.
                const bool leadingName = m.capturedStart() == 0 && (data & 1u);
                pattern += leadingName ? QStringLiteral("(\\S+?)") : QStringLiteral("(.*?)");
                at = m.capturedEnd();
                ++blanks;
            }
            pattern += QRegularExpression::escape(source.mid(at)) + QStringLiteral("$");
            // The last blank takes the rest: a reason may hold the phrase's own words.
            if (const qsizetype last = pattern.lastIndexOf(QStringLiteral("(.*?)")); blanks && last >= 0)
                pattern.replace(last, 5, QStringLiteral("(.*)"));
            out.push_back({source, QRegularExpression(pattern, QRegularExpression::DotMatchesEverythingOption), data, mixed});
        }
        return out;
    }();
    return all;
}

QString fillIn(const QString& phrase, const QStringList& values) {
    QString out;
    for (qsizetype i = 0; i < phrase.size(); ++i) {
        if (phrase[i] == QLatin1Char('%') && i + 1 < phrase.size() && phrase[i + 1] >= QLatin1Char('1') &&
            phrase[i + 1] <= QLatin1Char('9')) {
            const qsizetype n = phrase[i + 1].unicode() - '1';
            if (n < values.size()) {
                out += values[n];
                ++i;
                continue;
            }
        }
        out += phrase[i];
    }
    return out;
}

bool hasLetters(const QString& text) {
    static const QRegularExpression letter(QStringLiteral("[A-Za-z]"));
    return text.contains(letter);
}

// `line` in the operator's language; `ours` tells whether it was found among the core's texts
// at all (a phrase may read the same in both languages: "source %1").
QString translateLine(const QString& line, int depth, bool* ours = nullptr);

// A row's name of ids of ours around data ("center 0007, Tremblay, Marie, amount 10.00"): each
// item of ours is translated, any other, a name's own ", " included, stays as it came. An id
// always has a blank, so a name that reads as a whole text of ours ("Royalty") is a name.
QString translateMixed(const QString& value, int depth) {
    if (QString t = lookup(value); !t.isNull()) return t;
    QStringList items = value.split(QStringLiteral(", "));
    for (QString& item : items) {
        if (!hasLetters(item) || !lookup(item).isNull()) continue;
        bool ours = false;
        const QString t = translateLine(item, depth + 1, &ours);
        if (ours) item = t;
    }
    return items.join(QStringLiteral(", "));
}

QString translateLine(const QString& line, int depth, bool* ours) {
    if (ours) *ours = false;
    if (line.isEmpty()) return line;
    if (QString t = lookup(line); !t.isNull()) {
        if (ours) *ours = true;
        return t;
    }
    if (depth > 6) return line;
    // Ids listed one after another ("member 1001, center 0012"), each ours or a bare number;
    // a list with anything else in it is someone else's text.
    if (depth > 0 && line.contains(QStringLiteral(", "))) {
        QStringList items = line.split(QStringLiteral(", "));
        bool all = true;
        for (qsizetype i = 0; all && i < items.size(); ++i)
            if (hasLetters(items[i])) items[i] = translateLine(items[i], depth + 1, &all);
        if (all) {
            if (ours) *ours = true;
            return items.join(QStringLiteral(", "));
        }
    }
    for (const Phrase& p : phrases()) {
        const QRegularExpressionMatch m = p.pattern.match(line);
        if (!m.hasMatch()) continue;
        if (ours) *ours = true;
        const QString phrase = lookup(p.source);
        QStringList values;
        for (int i = 1; i <= m.lastCapturedIndex(); ++i) {
            // A caption of ours loses its access key inside a sentence; data (a value, a name,
            // the server's words, an address with "&") stays exactly as it came.
            const QString value = m.captured(i);
            if (p.data & (1u << (i - 1))) {
                values << value;
                continue;
            }
            if (p.mixed & (1u << (i - 1))) {
                values << translateMixed(value, depth + 1);
                continue;
            }
            const QString t = translateLine(value, depth + 1);
            values << (t == value ? value : withoutAccessKeys(t));
        }
        return fillIn(phrase.isNull() ? p.source : phrase, values);
    }
    return line;
}

void removeTranslators() {
    Installed& s = installed();
    for (QPointer<QTranslator>* t : {&s.ours, &s.qtbase}) {
        if (!*t) continue;
        QCoreApplication::removeTranslator(*t);
        delete t->data();
    }
}

}  // namespace

QString currentLanguage() { return installed().language; }

bool languageChosen() { return installed().chosen; }

QStringList availableLanguages() { return {QStringLiteral("en"), QStringLiteral("fr")}; }

QString systemLanguage() {
    return QLocale::system().language() == QLocale::French ? QStringLiteral("fr") : QStringLiteral("en");
}

QString installLanguage(const QString& language) {
    Installed& s = installed();
    const QString wanted = language.isEmpty() ? systemLanguage() : language.left(2).toLower();
    const QString lang = availableLanguages().contains(wanted) ? wanted : QStringLiteral("en");
    const bool same = s.chosen && lang == s.language;
    s.chosen = true;
    if (same || !QCoreApplication::instance()) return s.language;
    removeTranslators();
    s.language = QStringLiteral("en");
    if (lang != QStringLiteral("en")) {
        initTranslationResources();
        auto* ours = new QTranslator(QCoreApplication::instance());
        if (!ours->load(QStringLiteral(":/eftmemb/i18n/eftmemb_%1.qm").arg(lang))) {
            qWarning("The control's %s translation is missing; it stays in English", qPrintable(lang));
            delete ours;
            return s.language;
        }
        // Qt's own words (the standard buttons' "Yes", "Cancel") come from Qt's translations.
        auto* qtbase = new QTranslator(QCoreApplication::instance());
        if (qtbase->load(QStringLiteral("qtbase_%1").arg(lang), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            QCoreApplication::installTranslator(qtbase);
        else
            delete qtbase;
        QCoreApplication::installTranslator(ours);
        s.ours = ours;
        s.qtbase = qtbase;
        s.language = lang;
    } else {
        // Every widget retranslates on this, English included.
        QEvent change(QEvent::LanguageChange);
        QCoreApplication::sendEvent(QCoreApplication::instance(), &change);
    }
    return s.language;
}

QString translated(std::string_view english) { return translated(toQString(english)); }

QString translated(const QString& english) {
    if (installed().language == QStringLiteral("en") || english.isEmpty()) return english;
    if (QString t = lookup(english); !t.isNull()) return t;
    if (!english.contains(QLatin1Char('\n'))) return translateLine(english, 0);
    QStringList lines = english.split(QLatin1Char('\n'));
    bool afterPost = false;
    for (QString& line : lines) {
        const bool cr = line.endsWith(QLatin1Char('\r'));
        if (cr) line.chop(1);
        bool ours = false;
        const QString t = translateLine(line, 0, &ours);
        // Under a post's request line the transfer's failure: libcurl's own words, when they
        // are not ours, read as a fetch's do.
        if (afterPost && !ours && hasLetters(line))
            line = fillIn(translated(ui::phrase::kPageNotFetched), {line});
        else
            line = t;
        afterPost = line.startsWith(QStringLiteral("POST "));
        if (cr) line += QLatin1Char('\r');
    }
    return lines.join(QLatin1Char('\n'));
}

QString filled(std::string_view phrase, const QStringList& values) { return fillIn(translated(phrase), values); }

QString withoutAccessKeys(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&') && i + 1 < text.size()) ++i;
        out += text[i];
    }
    return out;
}

}  // namespace eft::qt
