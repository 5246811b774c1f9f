#include "textd/fuzz/FuzzSupport.h"

// Word's streams without their container, so the mutations reach the records: the input is
// the WordDocument stream and the table stream, split at "\n#\n".
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    dv::textd::fuzzOne(data, size,
                       [](const QByteArray &content, dv::textd::ExtractContext &context) {
                           const qsizetype cut = content.indexOf("\n#\n");
                           const QByteArray word = cut < 0 ? content : content.left(cut);
                           const QByteArray table = cut < 0 ? QByteArray() : content.mid(cut + 3);
                           dv::textd::extractWordStreams(word, table, table, context);
                       });
    return 0;
}
