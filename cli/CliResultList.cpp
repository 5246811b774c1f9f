#include "cli/CliResultList.h"

#include "core/platform/FileName.h"
#include "core/platform/Ticks.h"
#include "core/search/FileAcceptance.h"
#include "core/search/PreparedVerdictScope.h"

#include <cerrno>
#include <sys/ioctl.h>
#include <unistd.h>

namespace dv {

namespace {
constexpr std::uint64_t kProgressIntervalMs = 100;
constexpr std::size_t kOutChunk = 1 << 16;
} // namespace

CliResultList::CliResultList(const QString &pTextToFind, std::atomic<bool> &pStop, char pTerminator,
                             bool pMessages)
    : m_textToFind(pTextToFind), m_stop(pStop), m_terminator(pTerminator),
      m_stdoutIsTerminal(isatty(STDOUT_FILENO) == 1), m_progress(isatty(STDERR_FILENO) == 1),
      m_messages(pMessages)
{
    // A pipe gets large writes, flushed per batch; a terminal gets every line at once.
    if (m_stdoutIsTerminal)
        std::setvbuf(stdout, nullptr, _IOLBF, 0);
    else
        std::setvbuf(stdout, nullptr, _IOFBF, kOutChunk);
}

CliResultList::~CliResultList()
{
    ClearProgress();
}

void CliResultList::BeginUpdate() {}

void CliResultList::EndUpdate()
{
    WriteOut();
    if (!m_outputClosed && std::fflush(stdout) != 0) {
        m_outputClosed = true;
        m_stop = true;
    }
}

bool CliResultList::AddPath(const QString &pPath)
{
    if (m_stop || m_outputClosed)
        return false;
    if (m_progress)
        ShowProgress(pPath);
    const CandidateVerdict verdict = Judge(pPath);
    if (m_unsearched.note(pPath, verdict))
        ReportUnsearched(pPath, verdict.Reason);
    if (!verdict.Accepted)
        return false;
    m_encoded.resize(0);
    AppendEncodedFileName(m_encoded, pPath);
    m_out.append(m_encoded.constData(), static_cast<std::size_t>(m_encoded.size()));
    Accepted();
    return true;
}

bool CliResultList::AddEncodedPath(QByteArrayView pPath)
{
    // A content test needs the text of the path; without one every candidate is accepted and
    // the bytes go out as found, never turned into text and back.
    if (m_stop || m_outputClosed)
        return false;
    if (!m_textToFind.isEmpty()) {
        // A verdict judged ahead with nothing to report needs no text of the path: the
        // bytes go out as found (decoding and encoding again gives the same bytes).
        const CandidateVerdict *prepared = PreparedVerdictScope::FindEncoded(pPath, m_textToFind);
        if (!prepared || prepared->Failure != ContentTestFailure::None)
            return AddPath(DecodeFileName(pPath.data(), static_cast<std::size_t>(pPath.size())));
        if (m_progress && ProgressDue())
            ShowProgress(DecodeFileName(pPath.data(), static_cast<std::size_t>(pPath.size())));
        if (!prepared->Accepted)
            return false;
    } else if (m_progress && ProgressDue()) {
        ShowProgress(DecodeFileName(pPath.data(), static_cast<std::size_t>(pPath.size())));
    }
    m_out.append(pPath.data(), static_cast<std::size_t>(pPath.size()));
    Accepted();
    return true;
}

CandidateVerdict CliResultList::Judge(const QString &pPath) const
{
    return JudgeCandidateFile(pPath, m_textToFind);
}

void CliResultList::FolderNotSearched(const QString &pPath, const QString &pReason)
{
    if (m_unsearched.note(pPath, {false, ContentTestFailure::CannotOpen, pReason}))
        ReportUnsearched(pPath, pReason);
}

void CliResultList::ReportUnsearched(const QString &pPath, const QString &pReason)
{
    if (!m_messages)
        return;
    ClearProgress();
    QByteArray line = "delvora-find: ";
    AppendEncodedFileName(line, pPath); // the name's own bytes, as on stdout
    line += ": " + pReason.toUtf8() + '\n';
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stderr);
}

void CliResultList::Accepted()
{
    ++m_found;
    m_out.push_back(m_terminator);
    if (m_stdoutIsTerminal) {
        if (m_progressShown)
            ClearProgress();
        WriteOut();
    } else if (m_out.size() >= kOutChunk) {
        WriteOut();
    }
}

void CliResultList::WriteOut()
{
    if (m_out.empty() || m_outputClosed) {
        m_out.clear();
        return;
    }
    if (std::fwrite(m_out.data(), 1, m_out.size(), stdout) != m_out.size()) {
        m_outputClosed = true;
        m_stop = true;
    }
    m_out.clear();
}

bool CliResultList::IsItemInList(const QString &pPath)
{
    (void)pPath;
    return false; // delvora-find never refreshes a finished search
}

int CliResultList::ItemCount() const
{
    return m_found;
}

void CliResultList::Sort() {}

bool CliResultList::ProgressDue() const
{
    return !m_progressShown || GetTickCount64() - m_lastProgressTick >= kProgressIntervalMs;
}

void CliResultList::ShowProgress(const QString &pPath)
{
    if (!ProgressDue())
        return;
    m_lastProgressTick = GetTickCount64();
    int width = 80;
    struct winsize size;
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        width = size.ws_col;
    const QString head = QStringLiteral("%1 found  ").arg(m_found);
    QString path = pPath;
    for (QChar &c : path)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char('?'); // a name must not steer the terminal
    const qsizetype room = std::max<qsizetype>(width - 1 - head.size(), 4);
    if (path.size() > room)
        path = QStringLiteral("...") + path.right(room - 3);
    const QByteArray line = "\r\033[K" + (head + path).toUtf8();
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stderr);
    std::fflush(stderr);
    m_progressShown = true;
}

void CliResultList::ClearProgress()
{
    if (!m_progressShown)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    m_progressShown = false;
}

} // namespace dv
