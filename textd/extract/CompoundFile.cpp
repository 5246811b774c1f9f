#include "textd/extract/CompoundFile.h"

#include "textd/extract/ExtractContext.h"
#include "textd/extract/ExtractError.h"

// GLib names a struct field "signals", which Qt defines as a keyword.
#undef signals
#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-input.h>
#include <mutex>
#include <vector>

namespace dv::textd {

namespace {

// libgsf warns on stderr about each broken chain it meets; damaged files are our daily bread.
void silenceContainerWarnings()
{
    static std::once_flag once;
    std::call_once(once, [] {
        g_log_set_handler(
            "libgsf:msole",
            GLogLevelFlags(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE | G_LOG_LEVEL_CRITICAL |
                           G_LOG_FLAG_RECURSION),
            [](const gchar *, GLogLevelFlags, const gchar *, gpointer) {}, nullptr);
    });
}

quint32 le32(const QByteArray &data, qint64 offset)
{
    if (offset < 0 || offset + 4 > data.size())
        return 0xFFFFFFFFu;
    const auto *p = reinterpret_cast<const unsigned char *>(data.constData() + offset);
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

// libgsf walks the directory's trees by recursion, one stack frame per level: a directory laid
// out as one long chain of siblings would overflow the stack. Real trees are balanced or
// shallow, so a deeper one is refused before libgsf sees it. Anything else odd is left to
// libgsf, which checks the rest.
void checkDirectoryDepth(const QByteArray &data)
{
    constexpr quint32 NoEntry = 0xFFFFFFFFu;
    constexpr int MaxDepth = 2048;
    const quint16 shift = quint16(le32(data, 0x1E) & 0xFFFF);
    if (data.size() < 512 || (shift != 9 && shift != 12))
        return;
    const qint64 sectorSize = qint64(1) << shift;
    const qint64 sectorCount = (data.size() - 512 + sectorSize - 1) / sectorSize;
    const auto sectorOffset = [&](quint32 sector) { return 512 + qint64(sector) * sectorSize; };

    // The sectors of the allocation table: 109 in the header, the rest in a chain of DIFAT
    // sectors.
    std::vector<quint32> fatSectors;
    for (int i = 0; i < 109; ++i)
        fatSectors.push_back(le32(data, 0x4C + 4 * i));
    quint32 difat = le32(data, 0x44);
    for (qint64 guard = 0; difat < sectorCount && guard < sectorCount; ++guard) {
        const qint64 at = sectorOffset(difat);
        for (qint64 i = 0; i + 1 < sectorSize / 4; ++i)
            fatSectors.push_back(le32(data, at + 4 * i));
        difat = le32(data, at + sectorSize - 4);
    }
    const auto next = [&](quint32 sector) -> quint32 {
        const qint64 perSector = sectorSize / 4;
        const qint64 index = sector / perSector;
        if (index >= qint64(fatSectors.size()) || fatSectors[size_t(index)] >= sectorCount)
            return NoEntry;
        return le32(data, sectorOffset(fatSectors[size_t(index)]) + 4 * (sector % perSector));
    };

    QByteArray directory;
    quint32 sector = le32(data, 0x30);
    for (qint64 guard = 0; sector < sectorCount && guard < sectorCount; ++guard) {
        directory.append(data.mid(sectorOffset(sector), sectorSize));
        sector = next(sector);
    }
    const qint64 entries = directory.size() / 128;
    if (entries == 0)
        return;
    std::vector<bool> seen(size_t(entries), false);
    std::vector<std::pair<quint32, int>> stack{{0, 0}};
    while (!stack.empty()) {
        const auto [entry, depth] = stack.back();
        stack.pop_back();
        if (entry >= entries || seen[entry])
            continue;
        seen[entry] = true;
        if (depth > MaxDepth)
            throw ExtractError(ExtractError::Kind::Corrupt,
                               "damaged compound file: its directory is nested too deeply");
        for (const int field : {68, 72, 76}) {
            const quint32 link = le32(directory, qint64(entry) * 128 + field);
            if (link != NoEntry)
                stack.emplace_back(link, depth + 1);
        }
    }
}

} // namespace

CompoundFile::CompoundFile(const QByteArray &data, ExtractContext &context)
    : m_data(data), m_context(context)
{
    silenceContainerWarnings();
    checkDirectoryDepth(m_data);
    GsfInput *input = gsf_input_memory_new(reinterpret_cast<const guint8 *>(m_data.constData()),
                                           gsf_off_t(m_data.size()), FALSE);
    if (!input)
        throw ExtractError(ExtractError::Kind::Corrupt, "unreadable compound file");
    GError *error = nullptr;
    m_root = gsf_infile_msole_new(input, &error);
    g_object_unref(input);
    if (!m_root) {
        const std::string reason = error && error->message ? error->message : "unknown fault";
        if (error)
            g_error_free(error);
        throw ExtractError(ExtractError::Kind::Corrupt, "damaged compound file: " + reason);
    }
}

CompoundFile::~CompoundFile()
{
    if (m_root)
        g_object_unref(m_root);
}

GsfInput *CompoundFile::open(const QString &path) const
{
    GsfInput *current = GSF_INPUT(g_object_ref(m_root));
    if (path.isEmpty())
        return current;
    for (const QString &name : path.split(u'/')) {
        GsfInput *child = nullptr;
        if (GSF_IS_INFILE(current))
            child = gsf_infile_child_by_name(GSF_INFILE(current), name.toUtf8().constData());
        g_object_unref(current);
        if (!child)
            return nullptr;
        current = child;
    }
    return current;
}

bool CompoundFile::contains(const QString &path) const
{
    GsfInput *input = open(path);
    if (!input)
        return false;
    g_object_unref(input);
    return true;
}

QStringList CompoundFile::children(const QString &storage) const
{
    QStringList names;
    GsfInput *input = open(storage);
    if (!input)
        return names;
    if (GSF_IS_INFILE(input)) {
        GsfInfile *infile = GSF_INFILE(input);
        const int count = gsf_infile_num_children(infile);
        for (int i = 0; i < count; ++i) {
            if (const char *name = gsf_infile_name_by_index(infile, i))
                names.append(QString::fromUtf8(name));
        }
    }
    g_object_unref(input);
    return names;
}

bool CompoundFile::read(const QString &path, QByteArray &bytes) const
{
    GsfInput *input = open(path);
    if (!input)
        return false;
    if (GSF_IS_INFILE(input) && gsf_infile_num_children(GSF_INFILE(input)) >= 0) {
        g_object_unref(input);
        return false; // a storage, not a stream
    }
    const gsf_off_t size = gsf_input_size(input);
    try {
        if (size < 0 || size > m_context.limits().maxEntryBytes)
            throw ExtractError(ExtractError::Kind::Limit, "compound file stream too large");
        m_context.chargeInflated(size);
        bytes.resize(qsizetype(size));
        gsf_off_t done = 0;
        while (done < size) {
            const size_t chunk = size_t(std::min<gsf_off_t>(size - done, 1 << 20));
            if (!gsf_input_read(input, chunk, reinterpret_cast<guint8 *>(bytes.data() + done)))
                throw ExtractError(ExtractError::Kind::Corrupt,
                                   "damaged compound file stream: " + path.toStdString());
            done += gsf_off_t(chunk);
        }
    } catch (...) {
        g_object_unref(input);
        throw;
    }
    g_object_unref(input);
    return true;
}

} // namespace dv::textd
