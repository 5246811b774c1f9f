#include "textd/extract/NumberFormat.h"

#include <QByteArray>

#include <cstring>

// Number format codes from workbooks: the first eight bytes are the value, the rest the code.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 9)
        return 0;
    double value;
    std::memcpy(&value, data, sizeof value);
    const QString code =
        QString::fromUtf8(reinterpret_cast<const char *>(data + 8), qsizetype(size - 8));
    const dv::textd::NumberFormat format(code);
    const QString shown = format.format(value, data[8] & 1);
    if (shown.size() > 100'000)
        __builtin_trap();
    return 0;
}
