#include "textd/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    dv::textd::fuzzOne(data, size,
                       [](const QByteArray &content, dv::textd::ExtractContext &context) {
                           dv::textd::extractZipDocument(content, context);
                       });
    return 0;
}
