#pragma once

#include "core/platform/UniqueFd.h"

#include <QByteArray>

namespace dv {

// A folder reached only through folders that no other user can change, held open by its
// descriptor: whatever is done in it later goes through the descriptor, so a link swapped on
// the way after the check cannot lead elsewhere.
struct TrustedFolder
{
    enum class Problem
    {
        None,
        SystemError,   // a call failed; Error holds errno
        OtherOwner,    // Path belongs to another user
        OthersCanWrite // others may change the entries of Path
    };
    UniqueFd fd;
    Problem problem = Problem::None;
    QByteArray path; // the folder opened, or the one refused or that failed
    int error = 0;

    bool isOpen() const { return problem == Problem::None && fd.isValid(); }

    // Opens the existing folder Path: its links are resolved once, then every folder from "/"
    // on is opened without following a link and must belong to root or to us, with no write
    // access for group or others unless the sticky bit keeps them from renaming ours.
    static TrustedFolder OpenPath(const QByteArray &path);
    // Makes (mode 0700) or opens the folder Name in Parent, never through a link. It must
    // belong to us; one that others may enter is made private.
    static TrustedFolder OpenOwn(const TrustedFolder &parent, const QByteArray &name);
};

} // namespace dv
