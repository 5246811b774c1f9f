#pragma once

#include "core/search/CachedExtraction.h"
#include "core/search/ExtractionClient.h"

#include <optional>

namespace dv {

class ReadOnlyFile;

// The text of a file bound for the extraction server, read here when LocalTextDecision can
// tell the server's answer from the file's bytes: a plain-text file's bytes, or no text.
class LocalTextSource
{
public:
    // Gives File's text to Sink as the server would (pieces of whole characters; nothing for
    // no text), Probe first seeing the bytes as it sees a cached text (CachedTextProbe). Empty
    // when the server has to decide: nothing went to Sink then, and File is where it was.
    static std::optional<ExtractionEnd> Read(const ReadOnlyFile &file,
                                             const ExtractedTextSink &sink,
                                             const CachedTextProbe &probe,
                                             ContentTestError *failure);
};

} // namespace dv
