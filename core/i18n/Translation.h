#pragma once

#include <QLocale>
#include <QString>

namespace dv {

// The interface language of the running program: the table read from transl.dt next to the
// executable and the language in use. Until LoadTranslations succeeds, every text stays English.

// Reads the stored language choice and transl.dt; any failure leaves English, silently.
void LoadTranslations();

// The text of Key in the current language; Key itself for English, unknown keys and empty
// translations. Callers add decorations (leading spaces, placeholder values) outside the key.
// Safe on any thread.
QString Translate(const QString &key);

// Code of the system's interface language ("de", "cn", "jp", "kr" ...), "en" for all others.
QString DefaultLanguageCode();
// The code DefaultLanguageCode gives for Language.
QString LanguageCodeFor(QLocale::Language language);

// Code of the language in use; "en" before loading. May name no column of the table.
QString CurrentLanguageCode();
// Table column in use; 0 is English.
int CurrentLanguageIndex();

// Number of languages of the table (0 when no table was loaded).
int LanguageCount();
// Display name (row 0) and code (row 1) of column Index; empty outside the table.
QString LanguageDisplayName(int index);
QString LanguageCode(int index);

// Makes column Index current and its code the current code (the language menu's choice).
// An index outside the table selects English.
void SetCurrentLanguage(int index);

// Stores the current code as the user's choice for the next start. Throws std::runtime_error
// when the settings store cannot be written.
void SaveCurrentLanguage();

// Full path of the translation table, unless overridden: TranslationFileFor the executable's
// folder.
QString TranslationFilePath();
// transl.dt beside the program (the build tree) when it is there, else in the data folder of
// the installation the program is in (bin/../share/delvora), else the path beside the program.
QString TranslationFileFor(const QString &programFolder);
// Overrides the path of the translation table (tests); an empty path restores the default.
void SetTranslationFilePath(const QString &path);

} // namespace dv
