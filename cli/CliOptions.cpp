#include "cli/CliOptions.h"

#include "core/platform/FileName.h"

#include <cstring>

namespace dv {

namespace {

bool ParseDate(const QString &text, QDate &date)
{
    if (text.size() != 10 || text[4] != QLatin1Char('-') || text[7] != QLatin1Char('-'))
        return false;
    date = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
    return date.isValid();
}

// A whole number of kilobytes whose bytes fit (the window also takes a sign; here it would
// read as an option).
bool IsKilobytes(const QString &text)
{
    if (text.isEmpty())
        return false;
    for (QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    std::int64_t bytes = 0;
    return KilobytesToBytes(text, bytes);
}

} // namespace

SearchRequest CliOptions::Request() const
{
    SearchRequest r;
    r.Filter = Filter;
    r.TextToFind = Text;
    r.Dates = Dates;
    r.FirstDay = DateFrom;
    r.LastDay = DateTo;
    r.MinSizeKilobytes = MinSizeKilobytes;
    r.MaxSizeKilobytes = MaxSizeKilobytes;
    r.Recursive = Recursive;
    r.IncludeHidden = IncludeHidden;
    return r;
}

QString CliOptions::Usage()
{
    return QStringLiteral(
        "Usage: delvora-find [OPTIONS] [FOLDER|FILE...]\n"
        "Finds files below the folders (without FOLDER: every drive) and among the files given,\n"
        "and prints one path per line.\n"
        "\n"
        "  -n, --name FILTER      file-name filter, masks separated by \";\" (default \"*.*\")\n"
        "  -t, --text TEXT        text to find in the content\n"
        "  -u, --unrecognized     also scan raw bytes when the extracted text lacks TEXT\n"
        "      --no-cache         neither use nor fill the cache of extracted document texts\n"
        "      --accessed FROM TO | --created FROM TO | --modified FROM TO\n"
        "                         date condition on whole days, YYYY-MM-DD, local time (at "
        "most one)\n"
        "      --min-size KB      at least KB kilobytes (1 KB = 1024 bytes)\n"
        "      --max-size KB      at most KB kilobytes\n"
        "  -H, --hidden           include hidden files and folders\n"
        "      --no-subfolders    only the folders themselves\n"
        "  -0, --null             end each path with a NUL byte instead of a line break (for\n"
        "                         xargs -0; a name may hold a line break)\n"
        "  -s, --no-messages      no warnings about folders that cannot be searched and\n"
        "                         files whose content could not be tested\n"
        "  -h, --help             show this help\n"
        "      --version          show the version\n"
        "\n"
        "A file whose content could not be tested (it cannot be opened, the extraction\n"
        "server failed, did not answer or is not running, or the text is over a limit) is\n"
        "told on stderr as \"delvora-find: PATH: reason\".\n"
        "\n"
        "Exit status: 0 when a file was found, 1 when none, 2 on bad usage or when none was\n"
        "found and a file could not be tested, 128 + the signal's number when ended by one\n"
        "(130 for Ctrl+C, 143 for SIGTERM).\n");
}

bool CliOptions::Parse(int argc, char **argv, CliOptions &o, QString &pError)
{
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const char *raw = argv[i];
        if (optionsEnded || raw[0] != '-' || raw[1] == '\0') {
            o.Folders << DecodeFileName(raw, std::strlen(raw));
            continue;
        }
        QString arg = QString::fromUtf8(raw);
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }

        // "--name=X" and "-nX" carry their value inline.
        QString name = arg;
        std::optional<QString> inlineValue;
        if (arg.startsWith(QLatin1String("--"))) {
            const qsizetype eq = arg.indexOf(QLatin1Char('='));
            if (eq > 0) {
                name = arg.left(eq);
                inlineValue = arg.mid(eq + 1);
            }
        } else if (arg.size() > 2) {
            name = arg.left(2);
            inlineValue = arg.mid(2);
        }

        auto takeValue = [&](QString &value) {
            if (inlineValue) {
                value = *inlineValue;
                inlineValue.reset();
                return true;
            }
            if (i + 1 >= argc) {
                pError = QStringLiteral("option '%1' needs an argument").arg(name);
                return false;
            }
            value = QString::fromUtf8(argv[++i]);
            return true;
        };
        auto noValue = [&]() {
            if (!inlineValue)
                return true;
            // "-Hu" style bundles of switches are not supported; name the whole argument.
            pError = QStringLiteral("unknown option '%1'").arg(arg);
            return false;
        };

        if (name == QLatin1String("-n") || name == QLatin1String("--name")) {
            if (!takeValue(o.Filter))
                return false;
        } else if (name == QLatin1String("-t") || name == QLatin1String("--text")) {
            if (!takeValue(o.Text))
                return false;
        } else if (name == QLatin1String("-u") || name == QLatin1String("--unrecognized")) {
            if (!noValue())
                return false;
            o.Unrecognized = true;
        } else if (name == QLatin1String("--no-cache")) {
            if (!noValue())
                return false;
            o.NoCache = true;
        } else if (name == QLatin1String("--accessed") || name == QLatin1String("--created") ||
                   name == QLatin1String("--modified")) {
            if (o.Dates != DateKind::None) {
                pError =
                    QStringLiteral("only one of --accessed, --created and --modified may be given");
                return false;
            }
            QString from, to;
            if (!takeValue(from))
                return false;
            if (i + 1 >= argc) {
                pError = QStringLiteral("option '%1' needs two dates, FROM and TO").arg(name);
                return false;
            }
            to = QString::fromUtf8(argv[++i]);
            if (!ParseDate(from, o.DateFrom)) {
                pError = QStringLiteral("%1: '%2' is not a date (YYYY-MM-DD)").arg(name, from);
                return false;
            }
            if (!ParseDate(to, o.DateTo)) {
                pError = QStringLiteral("%1: '%2' is not a date (YYYY-MM-DD)").arg(name, to);
                return false;
            }
            o.Dates = name == QLatin1String("--accessed")  ? DateKind::Accessed
                      : name == QLatin1String("--created") ? DateKind::Created
                                                           : DateKind::Modified;
        } else if (name == QLatin1String("--min-size") || name == QLatin1String("--max-size")) {
            QString value;
            if (!takeValue(value))
                return false;
            if (!IsKilobytes(value)) {
                pError = QStringLiteral("%1: '%2' is not a number of kilobytes").arg(name, value);
                return false;
            }
            (name == QLatin1String("--min-size") ? o.MinSizeKilobytes : o.MaxSizeKilobytes) = value;
        } else if (name == QLatin1String("-H") || name == QLatin1String("--hidden")) {
            if (!noValue())
                return false;
            o.IncludeHidden = true;
        } else if (name == QLatin1String("--no-subfolders")) {
            if (!noValue())
                return false;
            o.Recursive = false;
        } else if (name == QLatin1String("-0") || name == QLatin1String("--null")) {
            if (!noValue())
                return false;
            o.NullTerminated = true;
        } else if (name == QLatin1String("-s") || name == QLatin1String("--no-messages")) {
            if (!noValue())
                return false;
            o.NoMessages = true;
        } else if (name == QLatin1String("-h") || name == QLatin1String("--help")) {
            if (!noValue())
                return false;
            o.Help = true;
        } else if (name == QLatin1String("--version")) {
            if (!noValue())
                return false;
            o.Version = true;
        } else {
            pError = QStringLiteral("unknown option '%1'").arg(arg);
            return false;
        }
    }
    return true;
}

} // namespace dv
