#pragma once

#include <QDate>
#include <QString>

#include <cstdint>

namespace dv {

class TDvSearchOptions;

// What the user asked for, as typed or chosen, in the window or on the command line.
struct SearchRequest
{
    enum class DateKind
    {
        None,
        Accessed,
        Created,
        Modified
    };

    QString Filter = QStringLiteral("*.*");
    QString TextToFind; // as typed
    DateKind Dates = DateKind::None;
    QDate FirstDay, LastDay; // whole local days, both included
    // Kilobytes as typed (1 KB = 1024 bytes); empty: no bound. A text that is not a whole
    // number, or whose bytes do not fit, gives no bound either.
    QString MinSizeKilobytes, MaxSizeKilobytes;
    bool Recursive = true;
    bool IncludeHidden = false;
};

// Text without the white space and control characters at either end.
QString TrimSearchText(const QString &text);

// KB as typed, in bytes; false for a text that is not an integer or whose bytes do not fit.
bool KilobytesToBytes(const QString &text, std::int64_t &bytes);

// Sets Options to Request (files only; every other criterion reset first) and returns the
// text to find, trimmed.
QString ApplySearchRequest(const SearchRequest &request, TDvSearchOptions &options);

} // namespace dv
