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
    bool wordy;  // its own words hold a letter: "%1: %2" has none and would take any text
};

// Each fillable phrase as a pattern: its words literally, each blank a group.
const std::vector<Phrase>& phrases() {
    static const std::vector<Phrase> all = [] {
        std::vector<Phrase> out;
        static const QRegularExpression blank(QStringLiteral("%[1-9]"));
        for (std::string_view p : ui::fillablePhrases()) {
            const QString source = toQString(p);
            QString pattern = QStringLiteral("^");
            qsizetype at = 0;
            auto it = blank.globalMatch(source);
            int blanks = 0;
            while (it.hasNext()) {
                const auto m = it.next();
                pattern += QRegularExpression::escape(source.mid(at, m.capturedStart() - at));
                pattern += QStringLiteral("(.*?)");
                at = m.capturedEnd();
                ++blanks;
            }
            pattern += QRegularExpression::escape(source.mid(at)) + QStringLiteral("$");
            // The last blank takes the rest: a reason may hold the phrase's own words.
            if (blanks) pattern.replace(pattern.lastIndexOf(QStringLiteral("(.*?)")), 5, QStringLiteral("(.*)"));
            QString words = source;
            words.remove(blank);
            const bool wordy = words.contains(QRegularExpression(QStringLiteral("[A-Za-z]")));
            out.push_back({source, QRegularExpression(pattern, QRegularExpression::DotMatchesEverythingOption), wordy});
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

QString translateLine(const QString& line, int depth) {
    if (line.isEmpty()) return line;
    if (QString t = lookup(line); !t.isNull()) return t;
    if (depth > 3) return line;
    for (const Phrase& p : phrases()) {
        // A value (a server's reason, a name) is translated only where it is the control's own.
        if (depth > 0 && !p.wordy) continue;
        const QRegularExpressionMatch m = p.pattern.match(line);
        if (!m.hasMatch()) continue;
        const QString phrase = lookup(p.source);
        if (phrase.isNull()) return line;
        QStringList values;
        for (int i = 1; i <= m.lastCapturedIndex(); ++i) {
            // A caption of ours loses its access key inside a sentence; any other value (an
            // address with "&", the server's words) stays exactly as it came.
            const QString value = m.captured(i);
            const QString t = translateLine(value, depth + 1);
            values << (t == value ? value : withoutAccessKeys(t));
        }
        return fillIn(phrase, values);
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
    for (QString& line : lines) {
        const bool cr = line.endsWith(QLatin1Char('\r'));
        if (cr) line.chop(1);
        line = translateLine(line, 0);
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
