#pragma once

#include "core/app/SettingsFormState.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace dv {

// What a read of settings.dt gave: fields are read in file order and reading stops at the first
// error, so only fields 1 to fieldsRead hold file values; later ones keep the base state's.
struct SettingsReadResult
{
    SettingsFormState state;
    int fieldsRead = 0; // 0 to 22
    // False when field 10's text was read but is no decimal integer: the text applies, the spin
    // position does not, and reading stopped there (fieldsRead is then 10).
    bool sizePositionRead = false;
};

enum class SettingsFileStatus
{
    Missing,    // no file: the window is centred
    Unreadable, // it exists but cannot be read: nothing applies
    Read,       // see SettingsReadResult::fieldsRead
};

// Path of settings.dt in the "Delvora" folder of the per-user configuration folder ($APPDATA,
// else $XDG_CONFIG_HOME, else ~/.config); creates the folder, ignoring failure.
QString GetSettingsFilePath();

// The file content for State: 22 little-endian fields, strings as a 32-bit count of UTF-16
// units followed by the units.
QByteArray EncodeSettings(const SettingsFormState &state);

// Reads Bytes over Base field by field until the first error; bytes after field 22 are ignored.
SettingsReadResult DecodeSettings(QByteArrayView bytes, const SettingsFormState &base = {});

// Reads the file at Path over Base.
SettingsFileStatus ReadSettingsFile(const QString &path, SettingsReadResult &result,
                                    const SettingsFormState &base = {});

// Replaces the file at Path with State's content in one step, so no reader ever sees a half
// written file; false on any error (the old file then stays as it was). Only a regular file,
// or a link to one (whose target is written), is replaced; false for anything else in the way.
bool WriteSettingsFile(const QString &path, const SettingsFormState &state);

} // namespace dv
