#pragma once

#include <QByteArray>

#include <functional>

namespace dv {

// Longest text the cache decompresses; a larger size in a stored frame is damage.
constexpr qint64 kMaxCachedTextBytes = 256LL * 1024 * 1024;

// A stored text: the check of its frame (kFrameCheckBytes, little-endian), then one zstd frame
// holding the text (level 3: fast, and text shrinks four- to eightfold), made as the text
// arrives by a TextCompressor. Every reading verifies the check over the whole frame, also one that
// stops early, so a damaged frame never passes for a text; a text stored by an earlier build,
// without the check, fails it too and is extracted again.
constexpr qsizetype kFrameCheckBytes = 8;
// The frame's blocks end every kTextBlockBytes of text (a reader that stops at a match has
// decompressed at most that much past it), and a reader gets the text in pieces of that size.
constexpr qsizetype kTextBlockBytes = 32 * 1024;
// The check of a frame: its XXH3 hash.
quint64 FrameCheck(const char *frame, qsizetype size);
// Bytes as a stored text, as above; empty when compression failed.
QByteArray CompressText(const QByteArray &bytes);

// How a decompression piece by piece ended.
enum class TextPiecesEnd
{
    Whole,   // every byte came out, exactly ExpectedSize of them
    Stopped, // Visit wanted no more
    Damaged  // the frame is damaged, of another size, or could not be read
};
// Fills Buffer with Size bytes of the frame from Offset on; false when they cannot be read.
using FrameReader = std::function<bool(qint64 offset, char *buffer, qsizetype size)>;
// Pieces of a text in order; false when no more is wanted.
using TextPieceVisitor = std::function<bool(const char *bytes, qsizetype size)>;
// Decompresses a stored text of StoredSize bytes made by CompressText, read through Read a block
// at a time, and hands the text to Visit in pieces of at most kTextBlockBytes each: the
// memory stays that of a block whatever the text's size, and once Visit has seen enough the
// rest is only read for the check, not decompressed. Pieces already seen are not the text when
// the end is Damaged (the check failed, also after a stop).
// With CheckFirst, the whole frame is read and checked before the first piece: a damaged one
// hands Visit nothing at all, for callers that cannot take back what they were handed.
TextPiecesEnd DecompressTextPieces(qint64 storedSize, qint64 expectedSize, const FrameReader &read,
                                   const TextPieceVisitor &visit, bool checkFirst = false);

} // namespace dv
