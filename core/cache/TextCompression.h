#pragma once

#include <QByteArray>

#include <functional>

namespace dv {

// Longest text the cache decompresses; a larger size in a stored frame is damage.
constexpr qint64 kMaxCachedTextBytes = 256LL * 1024 * 1024;

// One zstd frame holding Bytes, with its content size recorded (level 3: fast, and text
// shrinks four- to eightfold).
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
// Decompresses a frame of FrameSize bytes made by CompressText, read through Read a block at a
// time, and hands the text to Visit in pieces of at most a zstd block (128 KiB) each: the
// memory stays that of a block whatever the text's size, and a reader that has seen enough
// stops before the rest is read or decompressed. Pieces already seen are not the text when the
// end is Damaged.
TextPiecesEnd DecompressTextPieces(qint64 frameSize, qint64 expectedSize, const FrameReader &read,
                                   const TextPieceVisitor &visit);

} // namespace dv
