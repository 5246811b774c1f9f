#include "core/app/SettingsFile.h"

#include <cstdint>
#include <cstdlib>

using namespace dv;

// Reads arbitrary bytes as settings.dt; whatever was read must survive a write and a re-read.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const SettingsReadResult first = DecodeSettings(bytes);
    if (first.fieldsRead < 0 || first.fieldsRead > 22)
        std::abort();
    const QByteArray written = EncodeSettings(first.state);
    const SettingsReadResult second = DecodeSettings(written);
    if (second.fieldsRead != (second.sizePositionRead ? 22 : 10))
        std::abort();
    if (second.sizePositionRead && EncodeSettings(second.state) != written)
        std::abort();
    return 0;
}
