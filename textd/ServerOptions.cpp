#include "textd/ServerOptions.h"

namespace dv::textd {

namespace {

qint64 parseNumber(const QString &option, const QString &value, qint64 min, qint64 max)
{
    bool ok = false;
    const qint64 n = value.toLongLong(&ok);
    if (!ok || n < min || n > max)
        throw OptionError(
            QStringLiteral("invalid value '%1' for %2 (expected a number from %3 to %4)")
                .arg(value, option)
                .arg(min)
                .arg(max)
                .toStdString());
    return n;
}

} // namespace

ServerOptions parseServerOptions(const QStringList &arguments)
{
    ServerOptions o;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString name = arguments[i];
        QString value;
        bool hasValue = false;
        if (name.startsWith(QLatin1String("--"))) {
            const qsizetype eq = name.indexOf(QLatin1Char('='));
            if (eq > 0) {
                value = name.mid(eq + 1);
                name = name.left(eq);
                hasValue = true;
            }
        }
        if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
            o.showHelp = true;
            continue;
        }
        if (name == QLatin1String("--allow-remote")) {
            if (hasValue)
                throw OptionError("--allow-remote takes no value");
            o.allowRemote = true;
            continue;
        }
        static const QStringList valued = {QStringLiteral("--port"),
                                           QStringLiteral("--host"),
                                           QStringLiteral("--workers"),
                                           QStringLiteral("--timeout"),
                                           QStringLiteral("--cpu-limit"),
                                           QStringLiteral("--memory-limit"),
                                           QStringLiteral("--connection-timeout"),
                                           QStringLiteral("--max-connections"),
                                           QStringLiteral("--request-timeout"),
                                           QStringLiteral("--min-upload-rate"),
                                           QStringLiteral("--max-upload"),
                                           QStringLiteral("--retire-memory"),
                                           QStringLiteral("--idle-exit")};
        if (!valued.contains(name))
            throw OptionError(
                QStringLiteral("unknown option '%1' (see --help)").arg(arguments[i]).toStdString());
        if (!hasValue) {
            if (i + 1 >= arguments.size())
                throw OptionError(QStringLiteral("%1 needs a value").arg(name).toStdString());
            value = arguments[++i];
        }
        if (name == QLatin1String("--port"))
            o.port = int(parseNumber(name, value, 0, 65535));
        else if (name == QLatin1String("--host")) {
            if (value.isEmpty())
                throw OptionError("--host needs a value");
            o.host = value;
        } else if (name == QLatin1String("--workers"))
            o.workers = int(parseNumber(name, value, 1, 256));
        else if (name == QLatin1String("--timeout"))
            o.timeoutSeconds = int(parseNumber(name, value, 1, 86400));
        else if (name == QLatin1String("--cpu-limit"))
            o.cpuLimitSeconds = int(parseNumber(name, value, 1, 86400));
        else if (name == QLatin1String("--memory-limit"))
            o.memoryLimitMiB = parseNumber(name, value, 64, 1 << 20);
        else if (name == QLatin1String("--connection-timeout"))
            o.connectionTimeoutSeconds = int(parseNumber(name, value, 1, 3600));
        else if (name == QLatin1String("--max-connections"))
            o.maxConnections = int(parseNumber(name, value, 1, 4096));
        else if (name == QLatin1String("--request-timeout"))
            o.requestTimeoutSeconds = int(parseNumber(name, value, 1, 3600));
        else if (name == QLatin1String("--min-upload-rate"))
            o.minUploadRate = parseNumber(name, value, 0, 1LL << 30);
        else if (name == QLatin1String("--max-upload"))
            o.maxUploadMiB = parseNumber(name, value, 1, 1 << 20);
        else if (name == QLatin1String("--retire-memory"))
            o.retireMemoryMiB = parseNumber(name, value, 0, 1 << 20);
        else if (name == QLatin1String("--idle-exit"))
            o.idleExitSeconds = int(parseNumber(name, value, 1, 86400));
    }
    return o;
}

QString serverUsage()
{
    return QStringLiteral(
        "Usage: delvora-textd [options]\n"
        "Delvora's local text-extraction server. PUT a document to /tika and get its plain text\n"
        "(UTF-8) back, as with the Apache Tika server.\n"
        "\n"
        "Options:\n"
        "  --host ADDRESS            address to listen on (default 127.0.0.1)\n"
        "  --port N                  port to listen on (default 9998; 0 picks a free one)\n"
        "  --allow-remote            allow an address that is not a loopback address\n"
        "  --workers N               parser processes (default: number of processors, at least 2)\n"
        "  --timeout SECONDS         wall time per document (default 120)\n"
        "  --cpu-limit SECONDS       processor time per document (default 120)\n"
        "  --memory-limit MIB        address space of a parser process (default 2048)\n"
        "  --connection-timeout SECONDS\n"
        "                            close a connection idle this long (default 30)\n"
        "  --max-connections N       connections served at once (default 64); past that the\n"
        "                            longest-waiting unfinished request or the slowest upload\n"
        "                            makes room, or the new one is refused with 503\n"
        "  --request-timeout SECONDS time for a request's headers to arrive whole (default 10)\n"
        "  --min-upload-rate BYTES   slowest upload accepted, in bytes per second, measured after\n"
        "                            the request time-out (default 1048576; 0: no minimum); a\n"
        "                            whole upload must arrive within 120 s\n"
        "  --max-upload MIB          largest document accepted; larger ones get 413 (default "
        "1024)\n"
        "  --retire-memory MIB       replace a parser process left this large by a document\n"
        "                            (default 512; 0: never)\n"
        "  --idle-exit SECONDS       end after this long with no connection open (default: "
        "never)\n"
        "  --help                    show this text\n"
        "\n"
        "Started by systemd socket activation, the server takes its listening socket from\n"
        "systemd; --host and --port are then not used.\n");
}

} // namespace dv::textd
