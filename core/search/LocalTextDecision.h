#pragma once

#include <QtGlobal>

namespace dv {

// What the first bytes of a file bound for the extraction server tell about the server's
// answer, so that the file need not go there. Decided only where the answer of delvora-textd
// is certain: its text of a plain-text file is the file's bytes when they are valid UTF-8 and
// it finds neither a document signature nor markup nor a mail header block in them, and it
// answers nothing for bytes it can read as no text at all.
class LocalTextDecision
{
public:
    enum Kind
    {
        // Text read here: valid UTF-8 (checked while it is read; else it goes to the server
        // after all), none of the signatures the server looks for, within the server text's
        // bound. The server's text would be these bytes.
        PlainText,
        // No text: the file is empty, or its signature marks a known non-document (executable,
        // image, audio, video, archive, font) with bytes the server reads as no text.
        NoText,
        // Everything else: the server decides.
        Server
    };

    // Bytes of the file the decision needs (fewer when the file is shorter).
    static constexpr qsizetype kHeadBytes = 8192;

    // Decides from the first Count bytes of a file of FileSize bytes (Count is the whole file
    // or at least kHeadBytes).
    static Kind Decide(const char *head, qsizetype count, qint64 fileSize);

    // Whether files are decided here at all: DELVORA_LOCAL_DECISION=0 in the environment sends
    // every one to the server (to compare the found files with and without).
    static bool IsEnabled();
};

} // namespace dv
