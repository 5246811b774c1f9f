#pragma once

#include <QStringList>
#include <QWidget>

class QLabel;
class QPlainTextEdit;

namespace dv {

// The list of folders that will be searched, below the folder tree: a read-only box with one
// folder per line and the grey notice "No Folders Selected" centred over it while it is empty.
// It holds no state: every Refill rebuilds it from the selection list's entries. (The window
// coalesces bursts of check-box changes with its own timer before calling Refill.)
class WhereToSearchPanel : public QWidget
{
    Q_OBJECT
public:
    explicit WhereToSearchPanel(QWidget *parent = nullptr);

    // The lines for these entries, in their order: folder entries without their "/*", kept
    // only while they name an existing folder (symbolic links followed); file entries and
    // vanished folders are left out.
    static QStringList FoldersToShow(const QStringList &aPaths);
    // Fills a box and shows its notice exactly when the box stays empty (for a window that
    // has its own box and notice).
    static void Refill(QPlainTextEdit *aMemo, QLabel *aNotice, const QStringList &aPaths);
    // Centres the notice over its parent.
    static void CentreNotice(QLabel *aNotice);

    void Refill(const QStringList &aPaths);
    // Sets the notice's text in the current language.
    void TranslateTexts();

    QPlainTextEdit *Memo1;
    QLabel *StaticText1;

protected:
    void resizeEvent(QResizeEvent *event) override;
};

} // namespace dv
