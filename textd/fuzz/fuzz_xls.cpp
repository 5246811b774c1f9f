#include "textd/fuzz/FuzzSupport.h"

// An Excel workbook stream without its container.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    dv::textd::fuzzOne(data, size,
                       [](const QByteArray &content, dv::textd::ExtractContext &context) {
                           dv::textd::extractWorkbookStream(content, context);
                       });
    return 0;
}
