#pragma once

#include <QAccessibleWidget>

namespace dv {

class TLinkLabel;

// What assistive technology sees of a TLinkLabel: a link named by its text (unless it has an
// accessible name of its own) with a press action that does what a click does.
class TLinkLabelAccessible : public QAccessibleWidget
{
public:
    explicit TLinkLabelAccessible(TLinkLabel *label);

    // Makes every TLinkLabel use this interface; safe to call more than once.
    static void Install();

    QString text(QAccessible::Text t) const override;
    QStringList actionNames() const override;
    void doAction(const QString &actionName) override;
    QStringList keyBindingsForAction(const QString &actionName) const override;

private:
    TLinkLabel *Label() const;
};

} // namespace dv
