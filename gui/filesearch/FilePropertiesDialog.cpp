#include "gui/filesearch/FilePropertiesDialog.h"

#include "core/filesearch/ByteSizeFormat.h"
#include "core/i18n/Translation.h"
#include "core/platform/FileName.h"
#include "core/platform/UniqueFd.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QMimeDatabase>
#include <QVBoxLayout>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dv {

namespace {

QLabel *ValueLabel(const QString &pText, QWidget *parent)
{
    auto *label = new QLabel(pText, parent);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QString TimeText(const QDateTime &pTime)
{
    return pTime.isValid() ? QLocale().toString(pTime.toLocalTime(), QLocale::LongFormat)
                           : QString();
}

QDateTime StatTime(const struct statx_timestamp &pTime)
{
    return QDateTime::fromMSecsSinceEpoch(pTime.tv_sec * 1000 + pTime.tv_nsec / 1000000);
}

// The first bytes, for telling the type by content as file managers do.
QByteArray Head(const QByteArray &pPath)
{
    const UniqueFd fd(::open(pPath.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd)
        return {};
    QByteArray head(4096, '\0');
    const ssize_t n = ::read(fd.get(), head.data(), head.size());
    head.truncate(n > 0 ? n : 0);
    return head;
}

} // namespace

FilePropertiesDialog::FilePropertiesDialog(const QString &pPath, QWidget *parent) : QDialog(parent)
{
    // The name's own bytes: QFileInfo would re-encode a name that is not UTF-8 and find
    // nothing.
    const QByteArray bytes = EncodeFileName(pPath);
    struct statx st
    {
    };
    const bool found =
        ::statx(AT_FDCWD, bytes.constData(), 0, STATX_BASIC_STATS | STATX_BTIME, &st) == 0;
    const bool isDir = found && S_ISDIR(st.stx_mode);
    const qsizetype slash = pPath.lastIndexOf(QLatin1Char('/'));
    const QString name = pPath.mid(slash + 1);
    const QString location = slash <= 0 ? QStringLiteral("/") : pPath.left(slash);
    setWindowTitle(name + QStringLiteral(" Properties"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto *layout = new QVBoxLayout(this);
    auto *form = new QFormLayout;
    layout->addLayout(form);

    auto *icon = new QLabel(this);
    const QFileIconProvider icons;
    icon->setPixmap(
        (isDir ? icons.icon(QAbstractFileIconProvider::Folder) : icons.icon(QFileInfo(pPath)))
            .pixmap(32, 32));
    form->addRow(icon, ValueLabel(name, this));
    const QMimeDatabase mimes;
    const QMimeType type = isDir ? mimes.mimeTypeForName(QStringLiteral("inode/directory"))
                                 : mimes.mimeTypeForFileNameAndData(
                                       name, S_ISREG(st.stx_mode) ? Head(bytes) : QByteArray());
    form->addRow(QStringLiteral("Type:"), ValueLabel(type.comment(), this));
    form->addRow(QStringLiteral("Location:"), ValueLabel(location, this));
    if (!isDir) {
        const qint64 size = found ? static_cast<qint64>(st.stx_size) : 0;
        form->addRow(QStringLiteral("Size:"),
                     ValueLabel(FormatByteSize(size) + QStringLiteral(" (") +
                                    QLocale().toString(size) + QLatin1Char(' ') +
                                    Translate(QStringLiteral("bytes")) + QLatin1Char(')'),
                                this));
    }
    const bool born = found && (st.stx_mask & STATX_BTIME);
    form->addRow(QStringLiteral("Created:"),
                 ValueLabel(born ? TimeText(StatTime(st.stx_btime)) : QString(), this));
    form->addRow(QStringLiteral("Modified:"),
                 ValueLabel(found ? TimeText(StatTime(st.stx_mtime)) : QString(), this));
    form->addRow(QStringLiteral("Accessed:"),
                 ValueLabel(found ? TimeText(StatTime(st.stx_atime)) : QString(), this));

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

FilePropertiesDialog::~FilePropertiesDialog() = default;

} // namespace dv
