#include "textd/extract/ExtractContext.h"
#include "textd/extract/ExtractError.h"
#include "textd/extract/Extractors.h"
#include "textd/extract/XmlReader.h"
#include "textd/extract/ZipArchive.h"

#include <QHash>
#include <QSet>

namespace dv::textd {

namespace {

bool isHtmlName(const QString &name)
{
    return name.endsWith(QStringLiteral(".xhtml"), Qt::CaseInsensitive) ||
           name.endsWith(QStringLiteral(".html"), Qt::CaseInsensitive) ||
           name.endsWith(QStringLiteral(".htm"), Qt::CaseInsensitive);
}

QString packagePath(ZipArchive &archive, ExtractContext &context)
{
    QByteArray xml;
    if (!archive.read(QStringLiteral("META-INF/container.xml"), xml))
        return {};
    XmlReader reader(xml, context.limits().maxMarkupDepth);
    while (reader.next()) {
        if (reader.node() == XmlReader::Node::StartElement && reader.isName("rootfile"))
            return resolveMemberPath(QString(), QString::fromUtf8(reader.attribute("full-path")));
    }
    return {};
}

// Chapters in reading order: the package's spine mapped through its manifest.
QStringList spineChapters(ZipArchive &archive, const QString &package, ExtractContext &context)
{
    QByteArray xml;
    QStringList chapters;
    if (package.isEmpty() || !archive.read(package, xml))
        return chapters;
    QHash<QByteArray, QString> manifest;
    QList<QByteArray> spine;
    XmlReader reader(xml, context.limits().maxMarkupDepth);
    while (reader.next()) {
        if (reader.node() != XmlReader::Node::StartElement)
            continue;
        if (reader.isName("item")) {
            const QByteArray type = reader.attribute("media-type");
            const QString href = QString::fromUtf8(reader.attribute("href"));
            if (type.contains("html") || isHtmlName(href))
                manifest.insert(reader.attribute("id"), resolveMemberPath(package, href));
        } else if (reader.isName("itemref")) {
            spine.append(reader.attribute("idref"));
        }
    }
    for (const QByteArray &id : spine) {
        const QString chapter = manifest.value(id);
        if (!chapter.isEmpty())
            chapters.append(chapter);
    }
    return chapters;
}

// The members META-INF/encryption.xml names as encrypted, but for fonts that are only
// obfuscated (a key any reader has): a book with DRM.
QSet<QString> encryptedMembers(ZipArchive &archive, ExtractContext &context)
{
    QSet<QString> members;
    QByteArray xml;
    if (!archive.read(QStringLiteral("META-INF/encryption.xml"), xml))
        return members;
    XmlReader reader(xml, context.limits().maxMarkupDepth);
    bool obfuscated = false;
    while (reader.next()) {
        if (reader.node() != XmlReader::Node::StartElement)
            continue;
        if (reader.isName("EncryptedData")) {
            obfuscated = false;
        } else if (reader.isName("EncryptionMethod")) {
            const QByteArray algorithm = reader.attribute("Algorithm");
            obfuscated = algorithm == "http://www.idpf.org/2008/embedding" ||
                         algorithm == "http://ns.adobe.com/pdf/enc#RC";
        } else if (reader.isName("CipherReference") && !obfuscated) {
            members.insert(
                resolveMemberPath(QString(), QString::fromUtf8(reader.attribute("URI"))));
        }
    }
    return members;
}

} // namespace

void extractEpub(ZipArchive &archive, ExtractContext &context)
{
    QStringList chapters = spineChapters(archive, packagePath(archive, context), context);
    if (chapters.isEmpty()) {
        // No usable package document: take the pages in archive order.
        for (const QString &name : archive.names()) {
            if (isHtmlName(name))
                chapters.append(name);
        }
    }
    const QSet<QString> encrypted = encryptedMembers(archive, context);
    for (const QString &chapter : std::as_const(chapters)) {
        if (encrypted.contains(chapter))
            throw ExtractError(ExtractError::Kind::Corrupt, "the EPUB is encrypted (DRM)");
    }
    for (const QString &chapter : chapters) {
        QByteArray html;
        if (!archive.read(chapter, html))
            continue;
        context.paragraphBreak();
        try {
            extractHtml(html, context);
        } catch (const ExtractError &error) {
            if (error.kind() == ExtractError::Kind::Limit)
                throw;
        }
    }
}

} // namespace dv::textd
