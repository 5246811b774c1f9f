#include "gui/folders/WhereToSearchPanel.h"

#include "core/folders/FolderLister.h"
#include "core/i18n/Translation.h"
#include "core/platform/FileName.h"

#include <QFont>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include <cmath>

namespace dv {

WhereToSearchPanel::WhereToSearchPanel(QWidget *parent)
    : QWidget(parent), Memo1(new QPlainTextEdit(this)), StaticText1(new QLabel(this))
{
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    Memo1->setFrameShape(QFrame::NoFrame);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Memo1);

    StaticText1->setObjectName(QStringLiteral("StaticText1"));
    StaticText1->setAutoFillBackground(true);
    QPalette palette = StaticText1->palette();
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::WindowText, QColor(0x6D, 0x6D, 0x6D));
    StaticText1->setPalette(palette);
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    StaticText1->setFont(font);
    TranslateTexts();
    StaticText1->show();
}

QStringList WhereToSearchPanel::FoldersToShow(const QStringList &aPaths)
{
    QStringList lines;
    for (const QString &entry : aPaths) {
        const QString folder = FolderOfEntry(entry);
        if (FolderLister::IsFolder(folder))
            lines.append(folder);
    }
    return lines;
}

void WhereToSearchPanel::Refill(QPlainTextEdit *aMemo, QLabel *aNotice, const QStringList &aPaths)
{
    const QStringList lines = FoldersToShow(aPaths);
    aMemo->setPlainText(lines.join(u'\n'));
    aMemo->viewport()->update();
    aNotice->setVisible(lines.isEmpty());
    if (aNotice->isVisible()) {
        aNotice->raise();
        CentreNotice(aNotice);
    }
}

void WhereToSearchPanel::CentreNotice(QLabel *aNotice)
{
    const QWidget *frame = aNotice->parentWidget();
    if (frame == nullptr)
        return;
    // Halves rounded half to even.
    const auto half = [](int value) { return int(std::nearbyint(value / 2.0)); };
    aNotice->move(half(frame->width()) - half(aNotice->width()),
                  half(frame->height()) - half(aNotice->height()));
}

void WhereToSearchPanel::Refill(const QStringList &aPaths)
{
    Refill(Memo1, StaticText1, aPaths);
}

void WhereToSearchPanel::TranslateTexts()
{
    StaticText1->setText(Translate(QStringLiteral("No Folders Selected")));
    StaticText1->adjustSize();
    CentreNotice(StaticText1);
}

void WhereToSearchPanel::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    CentreNotice(StaticText1);
}

} // namespace dv
