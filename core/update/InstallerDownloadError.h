#pragma once

#include <QString>

#include <stdexcept>

namespace dv {

// A failed installer download; Message() is the text for the error box after the translated
// "Failed to download update. Please download manually on website." line.
class InstallerDownloadError : public std::runtime_error
{
public:
    explicit InstallerDownloadError(const QString &message)
        : std::runtime_error(message.toStdString()), m_message(message)
    {}
    const QString &Message() const { return m_message; }

private:
    QString m_message;
};

} // namespace dv
