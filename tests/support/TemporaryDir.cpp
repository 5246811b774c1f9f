#include "tests/support/TemporaryDir.h"

#include "core/platform/FileName.h"
#include "core/platform/RemoveTree.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace testsupport {

TemporaryDir::~TemporaryDir()
{
    if (isValid() && autoRemove())
        RemoveTree(dv::EncodeFileName(path()));
}

bool TemporaryDir::RemoveTree(const QByteArray &path)
{
    dv::RemoveTreeAt(AT_FDCWD, path.constData());
    return access(path.constData(), F_OK) != 0 && errno == ENOENT;
}

} // namespace testsupport
