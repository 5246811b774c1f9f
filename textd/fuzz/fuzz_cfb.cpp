#include "textd/fuzz/FuzzSupport.h"

// Whole compound files: the container, then whichever legacy reader its streams lead to.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    dv::textd::fuzzOne(data, size,
                       [](const QByteArray &content, dv::textd::ExtractContext &context) {
                           dv::textd::extractOle2Document(content, context);
                       });
    return 0;
}
