#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

struct zip;
struct zip_source;

namespace dv::textd {

class ExtractContext;

// A zip archive read from memory. Every member read is charged to the context's budget of
// inflated bytes and capped at the per-member limit, whatever sizes the archive claims.
class ZipArchive
{
public:
    ZipArchive(const QByteArray &data, ExtractContext &context);
    ~ZipArchive();
    ZipArchive(const ZipArchive &) = delete;
    ZipArchive &operator=(const ZipArchive &) = delete;

    // Member names in archive order (at most the context's member limit).
    const QStringList &names() const { return m_names; }
    bool contains(const QString &name) const;
    // Reads a member; false when there is none of that name (compared without case as a
    // fallback, as Office does). Throws when it is broken or over a limit.
    bool read(const QString &name, QByteArray &bytes);
    // Reads up to maxBytes of a member without failing on more (for sniffing).
    QByteArray peek(const QString &name, qint64 maxBytes);

private:
    qint64 indexOf(const QString &name) const;
    QByteArray readIndex(qint64 index, qint64 maxBytes, bool strict);

    ExtractContext &m_context;
    zip *m_archive = nullptr;
    QStringList m_names;
};

// Resolves a member path relative to the folder of another member ("../media/a.png"),
// as package relationships and EPUB manifests give them; a leading "/" is the archive root.
QString resolveMemberPath(const QString &baseMember, const QString &target);

} // namespace dv::textd
