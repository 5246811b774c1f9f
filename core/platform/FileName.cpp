#include "core/platform/FileName.h"

#include <QStringEncoder>

#include <cstdint>

namespace dv {

namespace {

// Length of the valid UTF-8 sequence at P (at most End), or 0 when it is not valid.
std::size_t ValidSequenceLength(const unsigned char *p, const unsigned char *end)
{
    const unsigned char c = p[0];
    if (c < 0x80)
        return 1;
    const std::ptrdiff_t left = end - p;
    auto cont = [&](std::ptrdiff_t i) { return i < left && (p[i] & 0xC0) == 0x80; };
    if (c >= 0xC2 && c <= 0xDF)
        return cont(1) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        if (!cont(1) || !cont(2))
            return 0;
        if (c == 0xE0 && p[1] < 0xA0)
            return 0; // overlong
        if (c == 0xED && p[1] >= 0xA0)
            return 0; // surrogate
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (!cont(1) || !cont(2) || !cont(3))
            return 0;
        if (c == 0xF0 && p[1] < 0x90)
            return 0; // overlong
        if (c == 0xF4 && p[1] >= 0x90)
            return 0; // above U+10FFFF
        return 4;
    }
    return 0;
}

bool IsAscii(const char *pBytes, std::size_t pLength)
{
    for (std::size_t i = 0; i < pLength; ++i)
        if (static_cast<unsigned char>(pBytes[i]) >= 0x80)
            return false;
    return true;
}

void AppendEscaped(QString &target, const char *bytes, std::size_t length)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes);
    const auto *end = p + length;
    target.reserve(target.size() + static_cast<qsizetype>(length));
    while (p < end) {
        const std::size_t n = ValidSequenceLength(p, end);
        if (n == 0) {
            target.append(QChar(static_cast<char16_t>(0xDC00 + *p)));
            ++p;
            continue;
        }
        char32_t cp;
        switch (n) {
        case 1:
            cp = p[0];
            break;
        case 2:
            cp = (char32_t(p[0] & 0x1F) << 6) | (p[1] & 0x3F);
            break;
        case 3:
            cp = (char32_t(p[0] & 0x0F) << 12) | (char32_t(p[1] & 0x3F) << 6) | (p[2] & 0x3F);
            break;
        default:
            cp = (char32_t(p[0] & 0x07) << 18) | (char32_t(p[1] & 0x3F) << 12) |
                 (char32_t(p[2] & 0x3F) << 6) | (p[3] & 0x3F);
            break;
        }
        if (cp >= 0x10000) {
            target.append(QChar(QChar::highSurrogate(cp)));
            target.append(QChar(QChar::lowSurrogate(cp)));
        } else {
            target.append(QChar(static_cast<char16_t>(cp)));
        }
        p += n;
    }
}

} // namespace

bool IsValidUtf8(const char *pBytes, std::size_t pLength)
{
    const auto *p = reinterpret_cast<const unsigned char *>(pBytes);
    const auto *end = p + pLength;
    while (p < end) {
        if (*p < 0x80) {
            ++p;
            continue;
        }
        const std::size_t n = ValidSequenceLength(p, end);
        if (n == 0)
            return false;
        p += n;
    }
    return true;
}

void AppendDecodedFileName(QString &pTarget, const char *pBytes, std::size_t pLength)
{
    if (IsAscii(pBytes, pLength)) {
        pTarget.append(QLatin1StringView(pBytes, static_cast<qsizetype>(pLength)));
        return;
    }
    if (IsValidUtf8(pBytes, pLength)) {
        pTarget.append(QString::fromUtf8(pBytes, static_cast<qsizetype>(pLength)));
        return;
    }
    AppendEscaped(pTarget, pBytes, pLength);
}

QString DecodeFileName(const char *pBytes, std::size_t pLength)
{
    QString result;
    AppendDecodedFileName(result, pBytes, pLength);
    return result;
}

QString DecodeFileName(const QByteArray &pBytes)
{
    return DecodeFileName(pBytes.constData(), static_cast<std::size_t>(pBytes.size()));
}

namespace {
bool HasEscapedBytes(QStringView pName)
{
    for (QChar c : pName)
        if (c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF)
            return true;
    return false;
}
} // namespace

void AppendEncodedFileName(QByteArray &pTarget, QStringView pName)
{
    if (HasEscapedBytes(pName)) {
        pTarget.append(EncodeFileName(pName));
        return;
    }
    QStringEncoder encoder(QStringEncoder::Utf8);
    const qsizetype old = pTarget.size();
    pTarget.resize(old + encoder.requiredSpace(pName.size()));
    const char *end = encoder.appendToBuffer(pTarget.data() + old, pName);
    pTarget.resize(end - pTarget.constData());
}

QByteArray EncodeFileName(QStringView pName)
{
    if (!HasEscapedBytes(pName))
        return pName.toUtf8();

    QByteArray result;
    result.reserve(pName.size() * 3);
    const qsizetype n = pName.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = pName[i].unicode();
        if (QChar::isHighSurrogate(u) && i + 1 < n &&
            QChar::isLowSurrogate(pName[i + 1].unicode())) {
            result.append(pName.mid(i, 2).toUtf8());
            ++i;
        } else if (u >= 0xDC80 && u <= 0xDCFF) {
            // Only a lone low surrogate is an escaped byte; a paired one was handled above.
            result.append(static_cast<char>(u - 0xDC00));
        } else {
            result.append(pName.mid(i, 1).toUtf8());
        }
    }
    return result;
}

QUrl FileUrlFromPath(const QString &pPath)
{
    if (pPath.isEmpty())
        return {};
    return QUrl::fromEncoded("file://" + EncodeFileName(pPath).toPercentEncoding("/"),
                             QUrl::StrictMode);
}

QString PathFromFileUrl(const QUrl &pUrl)
{
    if (!pUrl.isLocalFile())
        return {};
    const QString host = pUrl.host();
    if (!host.isEmpty() && host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0)
        return {};
    return DecodeFileName(
        QByteArray::fromPercentEncoding(pUrl.path(QUrl::FullyEncoded).toLatin1()));
}

QString JoinPath(const QString &pFolder, QStringView pName)
{
    QString result = pFolder;
    if (!result.endsWith(u'/'))
        result += u'/';
    result += pName;
    return result;
}

QByteArray JoinPath(const QByteArray &pFolder, QByteArrayView pName)
{
    QByteArray result = pFolder;
    if (!result.endsWith('/'))
        result.append('/');
    result.append(pName);
    return result;
}

QString FolderEntry(QStringView pFolder)
{
    while (pFolder.endsWith(u'/'))
        pFolder.chop(1);
    return pFolder.toString() + QStringLiteral("/*");
}

bool IsFolderEntry(QStringView pEntry)
{
    return pEntry.endsWith(u"/*");
}

QString FolderOfEntry(QStringView pEntry)
{
    if (!IsFolderEntry(pEntry))
        return pEntry.toString();
    return pEntry.size() == 2 ? QStringLiteral("/") : pEntry.chopped(2).toString();
}

} // namespace dv
