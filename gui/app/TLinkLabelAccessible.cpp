#include "gui/app/TLinkLabelAccessible.h"

#include "gui/app/TLinkLabel.h"

namespace dv {

namespace {

QAccessibleInterface *LinkLabelFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("dv::TLinkLabel") && object && object->isWidgetType())
        return new TLinkLabelAccessible(static_cast<TLinkLabel *>(object));
    return nullptr;
}

} // namespace

TLinkLabelAccessible::TLinkLabelAccessible(TLinkLabel *label)
    : QAccessibleWidget(label, QAccessible::Link)
{}

void TLinkLabelAccessible::Install()
{
    static const bool installed = [] {
        QAccessible::installFactory(LinkLabelFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

TLinkLabel *TLinkLabelAccessible::Label() const
{
    return static_cast<TLinkLabel *>(widget());
}

QString TLinkLabelAccessible::text(QAccessible::Text t) const
{
    if (t == QAccessible::Name) {
        const QString name = Label()->accessibleName();
        return name.isEmpty() ? Label()->text() : name;
    }
    return QAccessibleWidget::text(t);
}

QStringList TLinkLabelAccessible::actionNames() const
{
    QStringList names = QAccessibleWidget::actionNames();
    if (Label()->isEnabled())
        names.prepend(pressAction());
    return names;
}

void TLinkLabelAccessible::doAction(const QString &actionName)
{
    if (actionName == pressAction()) {
        if (Label()->isEnabled())
            Label()->Press();
        return;
    }
    QAccessibleWidget::doAction(actionName);
}

QStringList TLinkLabelAccessible::keyBindingsForAction(const QString &actionName) const
{
    if (actionName == pressAction())
        return {QStringLiteral("Space")};
    return QAccessibleWidget::keyBindingsForAction(actionName);
}

} // namespace dv
