#pragma once

#include <QDate>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace dv {

// What the command line of delvora-find asks for.
struct TCliOptions
{
    enum class DateKind
    {
        None,
        Accessed,
        Created,
        Modified
    };

    QString Filter = QStringLiteral("*.*");
    QString Text;
    bool Unrecognized = false;
    bool NoCache = false; // the extracted-text cache is neither read nor written
    DateKind Dates = DateKind::None;
    QDate DateFrom, DateTo;
    std::optional<std::int64_t> MinSizeBytes, MaxSizeBytes;
    bool IncludeHidden = false;
    bool Recursive = true;
    bool NullTerminated = false; // paths end with '\0' instead of a line break
    bool NoMessages = false;     // no warnings about folders or files that cannot be searched
    bool Help = false;
    bool Version = false;
    QStringList Folders; // decoded with DecodeFileName, so the bytes survive

    // Parses the arguments after the program name. On a usage error returns false and sets
    // pError to a one-line message naming the problem.
    static bool Parse(int argc, char **argv, TCliOptions &pOptions, QString &pError);

    // The usage text.
    static QString Usage();
};

} // namespace dv
