#include "gui/app/UnsearchedFilesDialog.h"

#include "core/i18n/Translation.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace dv {

UnsearchedFilesDialog::UnsearchedFilesDialog(const QList<UnsearchedFiles::Entry> &entries,
                                             QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("UnsearchedFilesDialog"));
    const QString title = Translate(QStringLiteral("Files that could not be searched"));
    setWindowTitle(title);
    setAccessibleName(title);
    resize(760, 380);

    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("UnsearchedList"));
    m_list->setAccessibleName(title);
    m_list->setColumnCount(2);
    m_list->setHeaderLabels(
        {Translate(QStringLiteral("File")), Translate(QStringLiteral("Reason"))});
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    // A reason's end (the server's address, a path) tells as much as its start.
    m_list->setTextElideMode(Qt::ElideMiddle);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    QList<QTreeWidgetItem *> rows;
    rows.reserve(entries.size());
    for (const UnsearchedFiles::Entry &e : entries) {
        auto *row = new QTreeWidgetItem(QStringList{e.Path, e.Reason});
        // What does not fit is left out in the middle; the whole text is the tool tip.
        row->setToolTip(0, e.Path);
        row->setToolTip(1, e.Reason);
        rows.append(row);
    }
    m_list->addTopLevelItems(rows);
    m_list->setSortingEnabled(true);
    m_list->sortByColumn(0, Qt::AscendingOrder);
    m_list->header()->setSectionResizeMode(QHeaderView::Interactive);
    m_list->setColumnWidth(0, 440);
    if (!rows.isEmpty())
        m_list->setCurrentItem(m_list->topLevelItem(0));

    // The view's own Ctrl+C would copy only the current cell.
    m_list->installEventFilter(this);

    m_buttons = new QDialogButtonBox(this);
    m_buttons->setObjectName(QStringLiteral("UnsearchedButtons"));
    m_buttons->setAccessibleName(title);
    QPushButton *copyButton =
        m_buttons->addButton(Translate(QStringLiteral("Copy")), QDialogButtonBox::ActionRole);
    copyButton->setObjectName(QStringLiteral("UnsearchedCopy"));
    copyButton->setAccessibleName(copyButton->text());
    // The button would take the focus, and with it the list's selection from the eye.
    copyButton->setAutoDefault(false);
    connect(copyButton, &QPushButton::clicked, this, &UnsearchedFilesDialog::CopySelectedRows);
    QPushButton *close =
        m_buttons->addButton(Translate(QStringLiteral("Close")), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("UnsearchedClose"));
    close->setAccessibleName(close->text());
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    layout->addWidget(m_buttons);
    m_list->setFocus();
}

bool UnsearchedFilesDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_list && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent *>(event)->matches(QKeySequence::Copy)) {
        CopySelectedRows();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

QString UnsearchedFilesDialog::SelectedRowsText() const
{
    QString text;
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *row = m_list->topLevelItem(i);
        if (row->isSelected())
            text += row->text(0) + QLatin1Char('\t') + row->text(1) + QLatin1Char('\n');
    }
    return text;
}

void UnsearchedFilesDialog::CopySelectedRows()
{
    const QString text = SelectedRowsText();
    if (!text.isEmpty())
        QApplication::clipboard()->setText(text);
}

} // namespace dv
