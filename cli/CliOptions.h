#pragma once

#include "core/filesearch/SearchRequest.h"

#include <QDate>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace dv {

// What the command line of delvora-find asks for.
struct CliOptions
{
    using DateKind = SearchRequest::DateKind;

    QString Filter = QStringLiteral("*.*");
    QString Text;
    bool Unrecognized = false;
    bool NoCache = false; // the extracted-text cache is neither read nor written
    DateKind Dates = DateKind::None;
    QDate DateFrom, DateTo;
    QString MinSizeKilobytes, MaxSizeKilobytes; // digits only, checked to fit; empty: none
    bool IncludeHidden = false;
    bool Recursive = true;
    bool NullTerminated = false; // paths end with '\0' instead of a line break
    bool NoMessages = false;     // no warnings about folders or files that cannot be searched
    bool Help = false;
    bool Version = false;
    QStringList Folders; // decoded with DecodeFileName, so the bytes survive

    // Parses the arguments after the program name. On a usage error returns false and sets
    // pError to a one-line message naming the problem.
    static bool Parse(int argc, char **argv, CliOptions &pOptions, QString &pError);

    // The usage text.
    static QString Usage();

    // The search this command line asks for.
    SearchRequest Request() const;
};

} // namespace dv
