#include "core/update/VersionDocuments.h"

#include <cstdint>
#include <cstdlib>
#include <stdexcept>

using namespace dv;

// Reads arbitrary bytes as the version document and, after the first NUL byte, the changes
// document, as the update check does with the server's answers.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView all(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype split = all.indexOf('\0');
    const QByteArrayView version = split < 0 ? all : all.first(split);
    const QByteArrayView changes = split < 0 ? QByteArrayView() : all.sliced(split + 1);
    try {
        const auto offer = EvaluateVersionDocuments(version, changes, 24);
        if (offer && !offer->message.endsWith(QStringLiteral("\r\n")))
            std::abort();
    } catch (const std::runtime_error &) {
    }
    const auto line = ParseVersionLine(QString::fromUtf8(version));
    if (line && line->displayVersion.isEmpty())
        std::abort();
    return 0;
}
