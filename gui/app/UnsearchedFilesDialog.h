#pragma once

#include "core/search/UnsearchedFiles.h"

#include <QDialog>

class QDialogButtonBox;
class QTreeWidget;

namespace dv {

// The files of the last search whose content could not be tested: path and reason, sorted by
// either column with a click on its header. Ctrl+C (or Copy) puts the selected rows on the
// clipboard as text, one line each, path and reason separated by a tab.
class UnsearchedFilesDialog : public QDialog
{
    Q_OBJECT
public:
    explicit UnsearchedFilesDialog(const QList<UnsearchedFiles::Entry> &entries,
                                   QWidget *parent = nullptr);

    QTreeWidget *List() const { return m_list; }
    // The selected rows in their shown order, as Copy puts them on the clipboard.
    QString SelectedRowsText() const;
    void CopySelectedRows();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QTreeWidget *m_list = nullptr;
    QDialogButtonBox *m_buttons = nullptr;
};

} // namespace dv
