#pragma once

#include <QByteArray>
#include <QTemporaryDir>

namespace testsupport {

// A QTemporaryDir that goes away whole: Qt's own removal leaves a folder behind when a name
// inside is not valid UTF-8 (it cannot name such a file), so the tree is removed by its bytes
// first, relative to each folder's descriptor (no depth limit).
class TemporaryDir : public QTemporaryDir
{
public:
    using QTemporaryDir::QTemporaryDir;
    ~TemporaryDir();
    TemporaryDir(const TemporaryDir &) = delete;
    TemporaryDir &operator=(const TemporaryDir &) = delete;

    // Removes the folder Path and everything in it; true when nothing is left.
    static bool RemoveTree(const QByteArray &path);
};

} // namespace testsupport
