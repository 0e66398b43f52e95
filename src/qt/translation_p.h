#pragma once
// The operator's language. The core speaks English; the views translate what they render
// through Qt's translators, which the widget installs into the application for the language
// its host asks for (or the system's). With English nothing is translated, so the English
// control shows the core's texts byte for byte.
#include <QString>
#include <QStringList>
#include <string_view>

namespace eft::qt {

// "en" or "fr": the language the views now render in.
QString currentLanguage();
// The language of the system locale, among those the control has; English otherwise.
QString systemLanguage();
// The languages the control has, English first.
QStringList availableLanguages();
// Installs the translators of `language` ("en", "fr"; empty: the system's) into the
// application, once for every widget of the process. Returns the language now in use; an
// unknown one leaves English. Needs a QCoreApplication.
QString installLanguage(const QString& language);
// Whether any widget or host has chosen a language in this process yet.
bool languageChosen();

// The core's text as the operator's language shows it: the whole text, else line by line,
// each line whole or as one of the core's phrases with blanks whose values are translated in
// turn (a translated value without its access key). What has no translation stays as it is.
QString translated(std::string_view english);
QString translated(const QString& english);
inline QString translated(const char* english) { return translated(std::string_view(english)); }
// A phrase with blanks (%1, %2, ...) translated, then filled with `values` as they are.
QString filled(std::string_view phrase, const QStringList& values);
// The text without its access-key marks ("&Load" -> "Load"; "&&" stays one "&").
QString withoutAccessKeys(const QString& text);

}  // namespace eft::qt
