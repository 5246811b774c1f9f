#pragma once

#include <QString>

#include <cstdint>

namespace dv {

// A byte count as a short text, as file managers show it: below 1024 "532 bytes"; above, the
// largest unit of 1024 (KB, MB, GB, TB, PB, EB) that keeps the number below 1000, with three
// significant digits, cut off rather than rounded: 1340 "1.30 KB", 23506 "22.9 KB",
// 2400016 "2.28 MB". Negative counts give an empty text.
QString FormatByteSize(std::int64_t pBytes);

} // namespace dv
