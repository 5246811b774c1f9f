#pragma once

#include "core/filesearch/IDvFileSearchTarget.h"
#include "core/search/UnsearchedFiles.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

namespace dv {

// The result list of delvora-find: each candidate passes the same acceptance as in the
// desktop program, and an accepted path is written as one line of raw name bytes (or ended by
// a NUL byte). Output is flushed once per batch when it is not a terminal. While stderr is a
// terminal a progress line there shows the count found and the path being processed. A file
// whose content could not be tested, or a folder that could not be searched, is kept in
// Unsearched() and, unless messages are off, told on stderr as "delvora-find: PATH: reason".
class CliResultList : public IDvFileSearchTarget
{
public:
    // pStop is set by a signal or by a closed output: from then on every candidate is refused.
    // pTerminator ends each path: a line break, or '\0' for names that hold line breaks.
    CliResultList(const QString &pTextToFind, std::atomic<bool> &pStop, char pTerminator = '\n',
                  bool pMessages = true);
    ~CliResultList() override;

    void BeginUpdate() override;
    void EndUpdate() override;
    bool AddPath(const QString &pPath) override;
    bool AddEncodedPath(QByteArrayView pPath) override;
    bool IsItemInList(const QString &pPath) override;
    int ItemCount() const override;
    void Sort() override;
    // Kept in Unsearched() and told on stderr as a file is.
    void FolderNotSearched(const QString &pPath, const QString &pReason) override;

    int Found() const { return m_found; }
    const UnsearchedFiles &Unsearched() const { return m_unsearched; }
    // True once writing to stdout failed (a closed pipe).
    bool OutputClosed() const { return m_outputClosed; }
    // Removes the progress line (at the end, before messages).
    void ClearProgress();

private:
    // The one place a candidate is judged.
    CandidateVerdict Judge(const QString &pPath) const;
    void ReportUnsearched(const QString &pPath, const QString &pReason);
    bool ProgressDue() const;
    void ShowProgress(const QString &pPath);
    // After an accepted path was appended to the output.
    void Accepted();
    void WriteOut();

    QString m_textToFind;
    std::string m_out;    // accepted paths not yet written
    QByteArray m_encoded; // one path turned back into bytes
    std::atomic<bool> &m_stop;
    char m_terminator;
    int m_found = 0;
    bool m_stdoutIsTerminal;
    bool m_progress;
    bool m_progressShown = false;
    bool m_outputClosed = false;
    bool m_messages;
    UnsearchedFiles m_unsearched;
    std::uint64_t m_lastProgressTick = 0;
};

} // namespace dv
