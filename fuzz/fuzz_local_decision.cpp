#include "core/search/LocalTextDecision.h"

#include <QByteArrayView>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

using namespace dv;

// Decides on arbitrary first bytes, as of a whole file and as of the head of a longer one: the
// decision reads only what it is given, and text read here never holds a zero byte in the part
// the server's binary test looks at.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto *bytes = reinterpret_cast<const char *>(data);
    const qsizetype count = qsizetype(size);
    const qsizetype head = std::min(count, LocalTextDecision::kHeadBytes);
    for (const qint64 fileSize : {qint64(count), qint64(count) + 1000}) {
        const LocalTextDecision::Kind kind = LocalTextDecision::Decide(bytes, count, fileSize);
        if (kind == LocalTextDecision::PlainText && QByteArrayView(bytes, head).contains('\0'))
            std::abort();
        if (count == 0 && kind != LocalTextDecision::NoText)
            std::abort();
    }
    return 0;
}
