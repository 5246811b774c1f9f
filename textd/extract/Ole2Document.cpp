#include "textd/extract/CompoundFile.h"
#include "textd/extract/ExtractContext.h"
#include "textd/extract/ExtractError.h"
#include "textd/extract/Extractors.h"

namespace dv::textd {

void extractOle2Document(const QByteArray &content, ExtractContext &context)
{
    const CompoundFile file(content, context);
    if (file.contains(QStringLiteral("WordDocument")))
        return extractDoc(file, context);
    if (file.contains(QStringLiteral("Workbook")) || file.contains(QStringLiteral("Book")))
        return extractXls(file, context);
    if (file.contains(QStringLiteral("PowerPoint Document")))
        return extractPpt(file, context);
    if (isMsg(file))
        return extractMsg(file, context);
    // Office 2007 and later keep a password-protected package in a compound file.
    if (file.contains(QStringLiteral("EncryptedPackage")))
        throw ExtractError(ExtractError::Kind::Corrupt, "the Office document is encrypted");
    throw ExtractError(ExtractError::Kind::Unsupported, "compound file of an unknown kind");
}

} // namespace dv::textd
