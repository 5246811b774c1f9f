#include "gui/filesearch/TDvFilePropertiesDialog.h"

#include "gui/filesearch/ByteSizeFormat.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QMimeDatabase>
#include <QVBoxLayout>

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

} // namespace

TDvFilePropertiesDialog::TDvFilePropertiesDialog(const QString &pPath, QWidget *parent)
    : QDialog(parent)
{
    const QFileInfo info(pPath);
    setWindowTitle(info.fileName() + QStringLiteral(" Properties"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto *layout = new QVBoxLayout(this);
    auto *form = new QFormLayout;
    layout->addLayout(form);

    auto *icon = new QLabel(this);
    icon->setPixmap(QFileIconProvider().icon(info).pixmap(32, 32));
    form->addRow(icon, ValueLabel(info.fileName(), this));
    form->addRow(QStringLiteral("Type:"),
                 ValueLabel(QMimeDatabase().mimeTypeForFile(info).comment(), this));
    form->addRow(QStringLiteral("Location:"), ValueLabel(info.absolutePath(), this));
    if (!info.isDir()) {
        const qint64 size = info.size();
        form->addRow(QStringLiteral("Size:"),
                     ValueLabel(FormatByteSize(size) + QStringLiteral(" (") +
                                    QLocale().toString(size) + QStringLiteral(" bytes)"),
                                this));
    }
    form->addRow(QStringLiteral("Created:"),
                 ValueLabel(TimeText(info.fileTime(QFileDevice::FileBirthTime)), this));
    form->addRow(QStringLiteral("Modified:"), ValueLabel(TimeText(info.lastModified()), this));
    form->addRow(QStringLiteral("Accessed:"), ValueLabel(TimeText(info.lastRead()), this));

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

TDvFilePropertiesDialog::~TDvFilePropertiesDialog() = default;

} // namespace dv
