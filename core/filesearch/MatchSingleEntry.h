#pragma once

#include <QByteArrayView>

#include <cstddef>

namespace dv {

class TDvSearchOptions;

// How one path fares against the criteria.
struct SingleEntryMatch
{
    bool Matches = false;
    bool IsFolder = false;        // offered with a trailing "/", as the walk offers folders
    std::size_t FolderLength = 0; // the path's folder part, up to and with its last "/"
};

// Judges the entry pPath (bytes, no trailing "/") exactly as a walk of its folder would: the
// entry's kind as the listing gives it (a link counts as what it points to; a dangling link,
// FIFO, socket or device is never a candidate), then every criterion. A name without a folder
// is an entry of the working folder. Reads the file system; any thread.
SingleEntryMatch MatchSingleEntry(const TDvSearchOptions &pOptions, QByteArrayView pPath);

} // namespace dv
