#pragma once

#include <QString>
#include <QStringList>

#include <stdexcept>

namespace dv::textd {

// A command line that cannot be used; the text is shown to the user as it is.
class OptionError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Settings of one server run, from the command line.
struct ServerOptions
{
    QString host = QStringLiteral("127.0.0.1");
    int port = 9998;
    bool allowRemote = false;
    bool showHelp = false;
    int workers = 0; // 0: chosen from the processor count
    int timeoutSeconds = 120;
    int cpuLimitSeconds = 120;
    qint64 memoryLimitMiB = 2048;
    int connectionTimeoutSeconds = 30;
    int maxConnections = 64;
    int requestTimeoutSeconds = 10;
    qint64 minUploadRate = 1024 * 1024; // bytes per second
    qint64 maxUploadMiB = 1024;
    qint64 retireMemoryMiB = 512;
    int idleExitSeconds = 0; // 0: never end for want of requests
};

// Parses the arguments after the program name; throws OptionError for a bad one.
ServerOptions parseServerOptions(const QStringList &arguments);

// The text printed for --help.
QString serverUsage();

} // namespace dv::textd
