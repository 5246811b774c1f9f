#pragma once

#include <QByteArray>

#include <optional>

namespace dv {

// Longest text the cache decompresses; a larger size in a stored frame is damage.
constexpr qint64 kMaxCachedTextBytes = 256LL * 1024 * 1024;

// One zstd frame holding Bytes, with its content size recorded (level 3: fast, and text
// shrinks four- to eightfold).
QByteArray CompressText(const QByteArray &bytes);
// The bytes of a frame made by CompressText, which must hold exactly ExpectedSize bytes;
// nothing when the frame is damaged or of another size.
std::optional<QByteArray> DecompressText(const char *frame, qsizetype frameSize,
                                         qint64 expectedSize);
// The same into Bytes, whose memory is reused when it is large enough (a search decompresses
// many texts, and fresh memory for each costs more than the decompression); false, with Bytes
// empty, where DecompressText gives nothing.
bool DecompressTextInto(const char *frame, qsizetype frameSize, qint64 expectedSize,
                        QByteArray &bytes);

} // namespace dv
