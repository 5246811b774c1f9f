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
    : fTextToFind(pTextToFind), fStop(pStop), fTerminator(pTerminator),
      fStdoutIsTerminal(isatty(STDOUT_FILENO) == 1), fProgress(isatty(STDERR_FILENO) == 1),
      fMessages(pMessages)
{
    // A pipe gets large writes, flushed per batch; a terminal gets every line at once.
    if (fStdoutIsTerminal)
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
    if (!fOutputClosed && std::fflush(stdout) != 0) {
        fOutputClosed = true;
        fStop = true;
    }
}

bool CliResultList::AddPath(const QString &pPath)
{
    if (fStop || fOutputClosed)
        return false;
    if (fProgress)
        ShowProgress(pPath);
    const CandidateVerdict verdict = Judge(pPath);
    if (fUnsearched.note(pPath, verdict))
        ReportUnsearched(pPath, verdict.Reason);
    if (!verdict.Accepted)
        return false;
    fEncoded.resize(0);
    AppendEncodedFileName(fEncoded, pPath);
    fOut.append(fEncoded.constData(), static_cast<std::size_t>(fEncoded.size()));
    Accepted();
    return true;
}

bool CliResultList::AddEncodedPath(QByteArrayView pPath)
{
    // A content test needs the text of the path; without one every candidate is accepted and
    // the bytes go out as found, never turned into text and back.
    if (fStop || fOutputClosed)
        return false;
    if (!fTextToFind.isEmpty()) {
        // A verdict judged ahead with nothing to report needs no text of the path: the
        // bytes go out as found (decoding and encoding again gives the same bytes).
        const CandidateVerdict *prepared = PreparedVerdictScope::FindEncoded(pPath, fTextToFind);
        if (!prepared || prepared->Failure != ContentTestFailure::None)
            return AddPath(DecodeFileName(pPath.data(), static_cast<std::size_t>(pPath.size())));
        if (fProgress && ProgressDue())
            ShowProgress(DecodeFileName(pPath.data(), static_cast<std::size_t>(pPath.size())));
        if (!prepared->Accepted)
            return false;
    } else if (fProgress && ProgressDue()) {
        ShowProgress(DecodeFileName(pPath.data(), static_cast<std::size_t>(pPath.size())));
    }
    fOut.append(pPath.data(), static_cast<std::size_t>(pPath.size()));
    Accepted();
    return true;
}

CandidateVerdict CliResultList::Judge(const QString &pPath) const
{
    return JudgeCandidateFile(pPath, fTextToFind);
}

void CliResultList::ReportUnsearched(const QString &pPath, const QString &pReason)
{
    if (!fMessages)
        return;
    ClearProgress();
    QByteArray line = "delvora-find: ";
    AppendEncodedFileName(line, pPath); // the name's own bytes, as on stdout
    line += ": " + pReason.toUtf8() + '\n';
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stderr);
}

void CliResultList::Accepted()
{
    ++fFound;
    fOut.push_back(fTerminator);
    if (fStdoutIsTerminal) {
        if (fProgressShown)
            ClearProgress();
        WriteOut();
    } else if (fOut.size() >= kOutChunk) {
        WriteOut();
    }
}

void CliResultList::WriteOut()
{
    if (fOut.empty() || fOutputClosed) {
        fOut.clear();
        return;
    }
    if (std::fwrite(fOut.data(), 1, fOut.size(), stdout) != fOut.size()) {
        fOutputClosed = true;
        fStop = true;
    }
    fOut.clear();
}

bool CliResultList::IsItemInList(const QString &pPath)
{
    (void)pPath;
    return false; // delvora-find never refreshes a finished search
}

int CliResultList::ItemCount() const
{
    return fFound;
}

void CliResultList::Sort() {}

bool CliResultList::ProgressDue() const
{
    return !fProgressShown || GetTickCount64() - fLastProgressTick >= kProgressIntervalMs;
}

void CliResultList::ShowProgress(const QString &pPath)
{
    if (!ProgressDue())
        return;
    fLastProgressTick = GetTickCount64();
    int width = 80;
    struct winsize size;
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        width = size.ws_col;
    const QString head = QStringLiteral("%1 found  ").arg(fFound);
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
    fProgressShown = true;
}

void CliResultList::ClearProgress()
{
    if (!fProgressShown)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    fProgressShown = false;
}

} // namespace dv
