#include "textd/extract/Extract.h"
#include "textd/fuzz/FuzzSupport.h"

// The whole entry point: detection, then whichever extractor the bytes lead to. The first
// byte picks a name hint so that hint-driven detection is reached too.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const char *const names[] = {"",         "a.txt",   "page.html", "mail.eml",
                                        "data.xml", "doc.rtf", "README",    "x.docx"};
    if (size == 0)
        return 0;
    const QString name = QString::fromLatin1(names[data[0] % 8]);
    const QByteArray content(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const dv::textd::ExtractResult result = dv::textd::extractDocument(
        content, QStringLiteral("application/octet-stream"), name, dv::textd::fuzzLimits());
    if (!QByteArrayView(result.utf8Text).isValidUtf8())
        __builtin_trap();
    return 0;
}
