#pragma once

#include "textd/extract/ExtractContext.h"
#include "textd/extract/ExtractError.h"
#include "textd/extract/Extractors.h"

#include <cstddef>
#include <cstdint>

// libgsf leaks a few directory entries when it gives up on some damaged compound files (its
// fault, a few hundred bytes each); the leak check is for our code.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libgsf-1.so\n";
}

namespace dv::textd {

// Limits small enough that one input stays fast, large enough to reach every code path.
inline ExtractLimits fuzzLimits()
{
    ExtractLimits limits;
    limits.maxDecompressedBytes = 16 * 1024 * 1024;
    limits.maxEntryBytes = 8 * 1024 * 1024;
    return limits;
}

// Runs one extractor the way extractDocument does: errors are outcomes, not failures.
template <typename Extractor> void fuzzOne(const uint8_t *data, size_t size, Extractor extractor)
{
    const QByteArray content(reinterpret_cast<const char *>(data), qsizetype(size));
    ExtractContext context(fuzzLimits(), content.size());
    try {
        extractor(content, context);
    } catch (const ExtractError &) {
    }
    const QByteArray text = context.takeText();
    // Every extractor promises UTF-8.
    if (!QByteArrayView(text).isValidUtf8())
        __builtin_trap();
}

} // namespace dv::textd
