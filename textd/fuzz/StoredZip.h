#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

#include <zlib.h>

namespace dv::textd {

using ZipMembers = QList<QPair<QByteArray, QByteArray>>;

namespace storedzip {

inline void put16(QByteArray &out, quint16 v)
{
    out.append(char(v & 0xFF));
    out.append(char(v >> 8));
}

inline void put32(QByteArray &out, quint32 v)
{
    put16(out, quint16(v & 0xFFFF));
    put16(out, quint16(v >> 16));
}

} // namespace storedzip

// A valid zip of uncompressed members, in this order: the package fuzzer wraps its mutated XML
// in one, and the extraction tests build their documents with it.
inline QByteArray storedZip(const ZipMembers &members)
{
    using storedzip::put16;
    using storedzip::put32;
    QByteArray out, directory;
    for (const auto &[name, data] : members) {
        const quint32 crc =
            quint32(crc32(0, reinterpret_cast<const Bytef *>(data.constData()), uInt(data.size())));
        const quint32 offset = quint32(out.size());
        put32(out, 0x04034b50);
        put16(out, 10);
        put16(out, 0);
        put16(out, 0);
        put32(out, 0);
        put32(out, crc);
        put32(out, quint32(data.size()));
        put32(out, quint32(data.size()));
        put16(out, quint16(name.size()));
        put16(out, 0);
        out += name + data;
        put32(directory, 0x02014b50);
        put16(directory, 20);
        put16(directory, 10);
        put16(directory, 0);
        put16(directory, 0);
        put32(directory, 0);
        put32(directory, crc);
        put32(directory, quint32(data.size()));
        put32(directory, quint32(data.size()));
        put16(directory, quint16(name.size()));
        put32(directory, 0); // extra field and comment lengths
        put32(directory, 0); // disk number and internal attributes
        put32(directory, 0); // external attributes
        put32(directory, offset);
        directory += name;
    }
    const quint32 directoryOffset = quint32(out.size());
    out += directory;
    put32(out, 0x06054b50);
    put32(out, 0);
    put16(out, quint16(members.size()));
    put16(out, quint16(members.size()));
    put32(out, quint32(directory.size()));
    put32(out, directoryOffset);
    put16(out, 0);
    return out;
}

} // namespace dv::textd
