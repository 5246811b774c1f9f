#include "textd/extract/ExtractContext.h"
#include "textd/extract/ExtractError.h"
#include "textd/extract/Extractors.h"
#include "textd/extract/ZipArchive.h"

namespace dv::textd {

void extractZipDocument(const QByteArray &content, ExtractContext &context)
{
    ZipArchive archive(content, context);
    // OpenDocument and EPUB name their type in a first member called "mimetype".
    const QByteArray mimetype = archive.peek(QStringLiteral("mimetype"), 256).trimmed();
    if (mimetype == "application/epub+zip")
        return extractEpub(archive, context);
    if (mimetype.startsWith("application/vnd.oasis.opendocument."))
        return extractOdf(archive, context);
    if (isOoxml(archive))
        return extractOoxml(archive, context);
    if (archive.contains(QStringLiteral("content.xml")) &&
        archive.contains(QStringLiteral("META-INF/manifest.xml")))
        return extractOdf(archive, context);
    if (archive.contains(QStringLiteral("META-INF/container.xml")))
        return extractEpub(archive, context);
    throw ExtractError(ExtractError::Kind::Unsupported, "zip archive of an unknown kind");
}

} // namespace dv::textd
