#include "textd/extract/ZipArchive.h"

#include "textd/extract/ExtractContext.h"
#include "textd/extract/ExtractError.h"

#include <QUrl>

#include <zip.h>

namespace dv::textd {

ZipArchive::ZipArchive(const QByteArray &data, ExtractContext &context) : m_context(context)
{
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *source =
        zip_source_buffer_create(data.constData(), zip_uint64_t(data.size()), 0, &error);
    if (!source) {
        zip_error_fini(&error);
        throw ExtractError(ExtractError::Kind::Corrupt, "cannot read archive");
    }
    m_archive = zip_open_from_source(source, ZIP_RDONLY, &error);
    if (!m_archive) {
        zip_source_free(source);
        const std::string message = zip_error_strerror(&error);
        zip_error_fini(&error);
        throw ExtractError(ExtractError::Kind::Corrupt, "broken archive: " + message);
    }
    zip_error_fini(&error);
    const zip_int64_t count = zip_get_num_entries(m_archive, 0);
    const qint64 limit = std::min<qint64>(count, m_context.limits().maxZipEntries);
    m_names.reserve(limit);
    for (qint64 i = 0; i < limit; ++i) {
        const char *name = zip_get_name(m_archive, zip_uint64_t(i), ZIP_FL_ENC_GUESS);
        m_names.append(name ? QString::fromUtf8(name) : QString());
    }
}

ZipArchive::~ZipArchive()
{
    if (m_archive)
        zip_discard(m_archive);
}

qint64 ZipArchive::indexOf(const QString &name) const
{
    qint64 index = m_names.indexOf(name);
    if (index < 0) {
        for (qint64 i = 0; i < m_names.size(); ++i) {
            if (m_names[i].compare(name, Qt::CaseInsensitive) == 0)
                return i;
        }
    }
    return index;
}

bool ZipArchive::contains(const QString &name) const
{
    return indexOf(name) >= 0;
}

QByteArray ZipArchive::readIndex(qint64 index, qint64 maxBytes, bool strict)
{
    zip_file_t *file = zip_fopen_index(m_archive, zip_uint64_t(index), 0);
    if (!file) {
        if (!strict)
            return {};
        throw ExtractError(ExtractError::Kind::Corrupt,
                           std::string("cannot open archive member: ") + zip_strerror(m_archive));
    }
    QByteArray bytes;
    char buffer[64 * 1024];
    while (true) {
        const zip_int64_t n = zip_fread(file, buffer, sizeof buffer);
        if (n < 0) {
            const std::string message = zip_file_strerror(file);
            zip_fclose(file);
            if (!strict)
                return bytes;
            throw ExtractError(ExtractError::Kind::Corrupt, "broken archive member: " + message);
        }
        if (n == 0)
            break;
        try {
            m_context.chargeInflated(n);
        } catch (...) {
            zip_fclose(file);
            throw;
        }
        if (bytes.size() + n > maxBytes) {
            zip_fclose(file);
            if (!strict) {
                bytes.append(buffer, qsizetype(maxBytes - bytes.size()));
                return bytes;
            }
            throw ExtractError(ExtractError::Kind::Limit, "archive member too large");
        }
        bytes.append(buffer, qsizetype(n));
    }
    zip_fclose(file);
    return bytes;
}

bool ZipArchive::read(const QString &name, QByteArray &bytes)
{
    bytes.clear();
    const qint64 index = indexOf(name);
    if (index < 0)
        return false;
    bytes = readIndex(index, m_context.limits().maxEntryBytes, true);
    return true;
}

QByteArray ZipArchive::peek(const QString &name, qint64 maxBytes)
{
    const qint64 index = indexOf(name);
    if (index < 0)
        return {};
    return readIndex(index, maxBytes, false);
}

QString resolveMemberPath(const QString &baseMember, const QString &target)
{
    // Targets are URI references: drop a fragment and undo percent-encoding.
    QString path = target.section(u'#', 0, 0);
    path = QUrl::fromPercentEncoding(path.toUtf8());
    QStringList parts;
    if (!path.startsWith(u'/')) {
        parts = baseMember.split(u'/');
        parts.removeLast();
    }
    for (const QString &part : path.split(u'/', Qt::SkipEmptyParts)) {
        if (part == u".")
            continue;
        if (part == u"..") {
            if (!parts.isEmpty())
                parts.removeLast();
            continue;
        }
        parts.append(part);
    }
    parts.removeAll(QString());
    return parts.join(u'/');
}

} // namespace dv::textd
