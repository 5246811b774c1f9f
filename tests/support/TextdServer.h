#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace testsupport {

// A real delvora-textd from the build tree, started on a free loopback port (--port 0; the
// port is read from the line the server prints when it listens). Stopped by the destructor.
class TextdServer
{
public:
    TextdServer() = default;
    TextdServer(const TextdServer &) = delete;
    TextdServer &operator=(const TextdServer &) = delete;
    ~TextdServer();

    // $DELVORA_BUILD_DIR/textd/delvora-textd.
    static QString executable();

    // Starts the server with the extra arguments; false (with the reason in errorText()) when it
    // does not listen within 30 s.
    bool start(const QStringList &arguments = {},
               const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());
    void stop();

    quint16 port() const { return m_port; }
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }
    QString errorText() const { return m_error; }
    QProcess &process() { return m_process; }

private:
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
};

} // namespace testsupport
