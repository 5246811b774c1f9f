#pragma once

#include <QStringList>

namespace dv {

// The entries of the checked-folder selection list, kept across runs in the per-user
// configuration beside the language choice. Each entry is stored as the bytes of its path, so
// a name that is not UTF-8 comes back as it was.

// The entries stored by the last run, in their order; empty when there are none or they
// cannot be read.
QStringList LoadCheckedFolders();
// Stores Entries for the next run. False when the configuration cannot be written.
bool SaveCheckedFolders(const QStringList &entries);

} // namespace dv
