#include "tests/support/TextdServer.h"

#include <QDeadlineTimer>
#include <QRegularExpression>

namespace testsupport {

TextdServer::~TextdServer()
{
    stop();
}

QString TextdServer::executable()
{
    return QString::fromLocal8Bit(qgetenv("DELVORA_BUILD_DIR")) +
           QStringLiteral("/textd/delvora-textd");
}

bool TextdServer::start(const QStringList &arguments, const QProcessEnvironment &environment)
{
    m_process.setProcessEnvironment(environment);
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start(executable(),
                    QStringList{QStringLiteral("--port"), QStringLiteral("0")} + arguments);
    if (!m_process.waitForStarted(30000)) {
        m_error = m_process.errorString();
        return false;
    }
    static const QRegularExpression listening(QStringLiteral("listening on http://[^:]+:(\\d+)/"));
    QByteArray out;
    QDeadlineTimer deadline(30000);
    while (!deadline.hasExpired()) {
        out += m_process.readAllStandardOutput();
        const QRegularExpressionMatch m = listening.match(QString::fromLocal8Bit(out));
        if (m.hasMatch()) {
            m_port = quint16(m.captured(1).toUInt());
            return true;
        }
        if (m_process.state() == QProcess::NotRunning)
            break;
        m_process.waitForReadyRead(100);
    }
    m_error = QStringLiteral("no listening line; stdout: %1 stderr: %2")
                  .arg(QString::fromLocal8Bit(out),
                       QString::fromLocal8Bit(m_process.readAllStandardError()));
    stop();
    return false;
}

void TextdServer::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(30000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

} // namespace testsupport
