#include "textd/fuzz/FuzzSupport.h"

// PowerPoint's streams without their container: the document stream and the current user
// stream, split at "\n#\n".
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    dv::textd::fuzzOne(data, size,
                       [](const QByteArray &content, dv::textd::ExtractContext &context) {
                           const qsizetype cut = content.indexOf("\n#\n");
                           const QByteArray document = cut < 0 ? content : content.left(cut);
                           const QByteArray user = cut < 0 ? QByteArray() : content.mid(cut + 3);
                           dv::textd::extractPresentationStreams(document, user, context);
                       });
    return 0;
}
