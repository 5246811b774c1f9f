#include "cli/TCliResultList.h"

#include "core/platform/FileName.h"
#include "core/platform/Ticks.h"
#include "core/search/FileAcceptance.h"

#include <cerrno>
#include <sys/ioctl.h>
#include <unistd.h>

namespace dv {

namespace {
constexpr std::uint64_t kProgressIntervalMs = 100;
}

TCliResultList::TCliResultList(const QString &pTextToFind, std::atomic<bool> &pStop)
    : fTextToFind(pTextToFind), fStop(pStop), fStdoutIsTerminal(isatty(STDOUT_FILENO) == 1),
      fProgress(isatty(STDERR_FILENO) == 1)
{
    // A pipe gets large writes, flushed per batch; a terminal gets every line at once.
    if (fStdoutIsTerminal)
        std::setvbuf(stdout, nullptr, _IOLBF, 0);
    else
        std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
}

TCliResultList::~TCliResultList()
{
    ClearProgress();
}

void TCliResultList::BeginUpdate() {}

void TCliResultList::EndUpdate()
{
    WriteOut();
    if (!fOutputClosed && std::fflush(stdout) != 0) {
        fOutputClosed = true;
        fStop = true;
    }
}

bool TCliResultList::AddPath(const QString &pPath)
{
    if (fStop || fOutputClosed)
        return false;
    if (fProgress)
        ShowProgress(pPath);
    if (!AcceptCandidateFile(pPath, fTextToFind))
        return false;
    ++fFound;
    AppendEncodedFileName(fOut, pPath);
    fOut.append('\n');
    if (fStdoutIsTerminal) {
        if (fProgressShown)
            ClearProgress();
        WriteOut();
    } else if (fOut.size() >= (1 << 16)) {
        WriteOut();
    }
    return true;
}

void TCliResultList::WriteOut()
{
    if (fOut.isEmpty() || fOutputClosed) {
        fOut.resize(0);
        return;
    }
    if (std::fwrite(fOut.constData(), 1, static_cast<std::size_t>(fOut.size()), stdout) !=
        static_cast<std::size_t>(fOut.size())) {
        fOutputClosed = true;
        fStop = true;
    }
    fOut.resize(0);
}

bool TCliResultList::IsItemInList(const QString &pPath)
{
    (void)pPath;
    return false; // delvora-find never refreshes a finished search
}

int TCliResultList::ItemCount() const
{
    return fFound;
}

void TCliResultList::Sort() {}

void TCliResultList::ShowProgress(const QString &pPath)
{
    const std::uint64_t now = GetTickCount64();
    if (fProgressShown && now - fLastProgressTick < kProgressIntervalMs)
        return;
    fLastProgressTick = now;
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

void TCliResultList::ClearProgress()
{
    if (!fProgressShown)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    fProgressShown = false;
}

} // namespace dv
