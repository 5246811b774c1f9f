#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <QUrl>

#include <cstddef>

namespace dv {

// File names are bytes on this platform and need not be valid UTF-8. A name is shown and
// handled as a QString decoded from UTF-8; every byte that is not part of a valid UTF-8
// sequence becomes the lone surrogate U+DC00 + byte (as Python's "surrogateescape" does).
// Valid UTF-8 never yields a lone surrogate, so EncodeFileName gives back exactly the bytes
// of the name, and such a path can be opened again.

// Decodes the bytes of a file name or path.
QString DecodeFileName(const char *pBytes, std::size_t pLength);
QString DecodeFileName(const QByteArray &pBytes);

// Appends the decoded bytes to Target (saves a temporary per found path).
void AppendDecodedFileName(QString &pTarget, const char *pBytes, std::size_t pLength);

// Encodes a name or path back into the bytes to pass to the system.
QByteArray EncodeFileName(QStringView pName);
// Appends the encoded bytes to Target (saves a temporary per path written).
void AppendEncodedFileName(QByteArray &pTarget, QStringView pName);

// The file:// address of an absolute path, carrying the path's own bytes. QUrl::fromLocalFile
// would encode an escaped byte as the UTF-8 of its surrogate, naming another file.
QUrl FileUrlFromPath(const QString &pPath);
// The path named by a local file:// address, with bytes that are not UTF-8 escaped as
// DecodeFileName does; empty when the address is not a local file.
QString PathFromFileUrl(const QUrl &pUrl);

// pFolder and pName joined by exactly one "/" (pFolder may end with one, as "/" does).
QString JoinPath(const QString &pFolder, QStringView pName);
QByteArray JoinPath(const QByteArray &pFolder, QByteArrayView pName);

// A folder entry of a selection list is the folder followed by "/*" ("/*" for the root).
// Only that marker counts: a name of its own may end in "*" ("/data/draft*" is a folder,
// "/data/draft*/*" its entry).
QString FolderEntry(QStringView pFolder);
bool IsFolderEntry(QStringView pEntry);
// The folder of a folder entry ("/*" gives "/"); any other entry as it is.
QString FolderOfEntry(QStringView pEntry);

// True when the bytes are valid UTF-8 (no overlong forms, no surrogates, at most U+10FFFF).
bool IsValidUtf8(const char *pBytes, std::size_t pLength);

} // namespace dv
