#pragma once

#include <QAccessibleWidget>

namespace dv {

class LinkLabel;

// What assistive technology sees of a LinkLabel: a link named by its text (unless it has an
// accessible name of its own) with a press action that does what a click does.
class LinkLabelAccessible : public QAccessibleWidget
{
public:
    explicit LinkLabelAccessible(LinkLabel *label);

    // Makes every LinkLabel use this interface; safe to call more than once.
    static void Install();

    QString text(QAccessible::Text t) const override;
    QStringList actionNames() const override;
    void doAction(const QString &actionName) override;
    QStringList keyBindingsForAction(const QString &actionName) const override;

private:
    LinkLabel *Label() const;
};

} // namespace dv
