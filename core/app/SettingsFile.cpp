#include "core/app/SettingsFile.h"

#include "core/platform/FileName.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QtEndian>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <sys/stat.h>

namespace dv {

namespace {

// No real settings file comes near this; reading more would only cost memory.
constexpr qint64 kMaxSettingsBytes = 16 * 1024 * 1024;

struct Truncated
{
};

class Writer
{
public:
    void Int32(qint32 v)
    {
        char b[4];
        qToLittleEndian(v, b);
        m_bytes.append(b, 4);
    }
    void Byte(bool v) { m_bytes.append(v ? '\1' : '\0'); }
    void Double(double v)
    {
        quint64 bits;
        std::memcpy(&bits, &v, sizeof bits);
        char b[8];
        qToLittleEndian(bits, b);
        m_bytes.append(b, 8);
    }
    void String(const QString &s)
    {
        Int32(static_cast<qint32>(s.size()));
        for (const QChar c : s) {
            char b[2];
            qToLittleEndian(c.unicode(), b);
            m_bytes.append(b, 2);
        }
    }
    QByteArray m_bytes;
};

class Reader
{
public:
    explicit Reader(QByteArrayView bytes) : m_bytes(bytes) {}

    qint32 Int32() { return qFromLittleEndian<qint32>(Take(4)); }
    bool Byte() { return *Take(1) != 0; }
    double Double()
    {
        const quint64 bits = qFromLittleEndian<quint64>(Take(8));
        double v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
    QString String()
    {
        const qint32 count = Int32();
        if (count <= 0)
            return {};
        // Checked against what is left before anything is allocated.
        const char *units = Take(2 * qsizetype(count));
        QString s(count, Qt::Uninitialized);
        for (qint32 i = 0; i < count; ++i)
            s[i] = QChar(qFromLittleEndian<quint16>(units + 2 * i));
        return s;
    }

private:
    const char *Take(qsizetype n)
    {
        if (n > m_bytes.size() - m_pos)
            throw Truncated{};
        const char *p = m_bytes.data() + m_pos;
        m_pos += n;
        return p;
    }

    QByteArrayView m_bytes;
    qsizetype m_pos = 0;
};

// The spin position of a size text: a plain decimal integer that fits 32 bits.
bool ParsePosition(const QString &text, qint32 &value)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text.at(i) == u'+' || text.at(i) == u'-')) {
        negative = text.at(i) == u'-';
        ++i;
    }
    if (i == text.size())
        return false;
    qint64 v = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < u'0' || c > u'9')
            return false;
        v = v * 10 + (c - u'0');
        if (v > qint64(std::numeric_limits<qint32>::max()) + 1)
            return false;
    }
    if (negative)
        v = -v;
    if (v > std::numeric_limits<qint32>::max() || v < std::numeric_limits<qint32>::min())
        return false;
    value = static_cast<qint32>(v);
    return true;
}

} // namespace

QString GetSettingsFilePath()
{
    QString base = qEnvironmentVariable("APPDATA");
    if (base.isEmpty())
        base = qEnvironmentVariable("XDG_CONFIG_HOME");
    // A relative folder would depend on the working folder of the moment.
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::home().filePath(QStringLiteral(".config"));
    const QString folder = QDir(base).filePath(QStringLiteral("Delvora"));
    QDir().mkpath(folder); // a failure shows up later as a file that cannot be opened
    return QDir(folder).filePath(QStringLiteral("settings.dt"));
}

QByteArray EncodeSettings(const SettingsFormState &s)
{
    Writer w;
    w.Int32(s.version);
    w.String(s.fileNameFilter);
    w.String(s.textToFind);
    w.Byte(s.dateAllFiles);
    w.Int32(s.dateKind);
    w.Double(s.firstDate);
    w.Double(s.lastDate);
    w.Byte(s.sizeAllFiles);
    w.Int32(s.sizeComparison);
    w.String(s.sizeValue);
    w.Byte(s.showHidden);
    w.Byte(s.searchInSubfolders);
    w.Byte(s.searchUnrecognizedFormats);
    w.Byte(s.maximized);
    w.Int32(s.windowLeft);
    w.Int32(s.windowTop);
    w.Int32(s.windowWidth);
    w.Int32(s.windowHeight);
    w.Int32(s.leftColumnWidth);
    w.Int32(s.folderListHeight);
    w.Int32(s.previewHeight);
    w.String(s.selectedFolder);
    return w.m_bytes;
}

SettingsReadResult DecodeSettings(QByteArrayView bytes, const SettingsFormState &base)
{
    SettingsReadResult result;
    result.state = base;
    SettingsFormState &s = result.state;
    int &n = result.fieldsRead;
    Reader r(bytes);
    try {
        s.version = r.Int32(), ++n;
        s.fileNameFilter = r.String(), ++n;
        s.textToFind = r.String(), ++n;
        s.dateAllFiles = r.Byte(), ++n;
        s.dateKind = r.Int32(), ++n;
        s.firstDate = r.Double(), ++n;
        s.lastDate = r.Double(), ++n;
        s.sizeAllFiles = r.Byte(), ++n;
        s.sizeComparison = r.Int32(), ++n;
        s.sizeValue = r.String(), ++n;
        if (!ParsePosition(s.sizeValue, s.sizePosition))
            return result;
        result.sizePositionRead = true;
        s.showHidden = r.Byte(), ++n;
        s.searchInSubfolders = r.Byte(), ++n;
        s.searchUnrecognizedFormats = r.Byte(), ++n;
        s.maximized = r.Byte(), ++n;
        s.windowLeft = r.Int32(), ++n;
        s.windowTop = r.Int32(), ++n;
        s.windowWidth = r.Int32(), ++n;
        s.windowHeight = r.Int32(), ++n;
        s.leftColumnWidth = r.Int32(), ++n;
        s.folderListHeight = r.Int32(), ++n;
        s.previewHeight = r.Int32(), ++n;
        s.selectedFolder = r.String(), ++n;
    } catch (const Truncated &) {
    }
    return result;
}

SettingsFileStatus ReadSettingsFile(const QString &path, SettingsReadResult &result,
                                    const SettingsFormState &base)
{
    struct stat st;
    if (stat(EncodeFileName(path).constData(), &st) != 0)
        return SettingsFileStatus::Missing;
    // Only a regular file is read: a FIFO in its place would block the start for ever.
    if (!S_ISREG(st.st_mode))
        return SettingsFileStatus::Unreadable;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return SettingsFileStatus::Unreadable;
    const QByteArray bytes = file.read(kMaxSettingsBytes);
    if (file.error() != QFileDevice::NoError)
        return SettingsFileStatus::Unreadable;
    result = DecodeSettings(bytes, base);
    return SettingsFileStatus::Read;
}

bool WriteSettingsFile(const QString &path, const SettingsFormState &state)
{
    // Only a regular file is replaced. A link is followed only to one, as editors do: its
    // target gets the new content and the link stays. A device, a FIFO, a folder or a dangling
    // link in the way is left alone (replacing it would destroy what the link points to).
    QString target = path;
    const QByteArray encoded = EncodeFileName(path);
    struct stat st;
    if (lstat(encoded.constData(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) {
            if (stat(encoded.constData(), &st) != 0 || !S_ISREG(st.st_mode))
                return false;
            char resolved[PATH_MAX];
            if (::realpath(encoded.constData(), resolved) == nullptr)
                return false;
            target = DecodeFileName(QByteArray(resolved));
        } else if (!S_ISREG(st.st_mode)) {
            return false;
        }
    } else if (errno != ENOENT) {
        return false;
    }

    const QByteArray bytes = EncodeSettings(state);
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace dv
