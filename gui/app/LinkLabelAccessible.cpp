#include "gui/app/LinkLabelAccessible.h"

#include "gui/app/LinkLabel.h"

namespace dv {

namespace {

QAccessibleInterface *LinkLabelFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("dv::LinkLabel") && object && object->isWidgetType())
        return new LinkLabelAccessible(static_cast<LinkLabel *>(object));
    return nullptr;
}

} // namespace

LinkLabelAccessible::LinkLabelAccessible(LinkLabel *label)
    : QAccessibleWidget(label, QAccessible::Link)
{}

void LinkLabelAccessible::Install()
{
    static const bool installed = [] {
        QAccessible::installFactory(LinkLabelFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

LinkLabel *LinkLabelAccessible::Label() const
{
    return static_cast<LinkLabel *>(widget());
}

QString LinkLabelAccessible::text(QAccessible::Text t) const
{
    if (t == QAccessible::Name) {
        const QString name = Label()->accessibleName();
        return name.isEmpty() ? Label()->text() : name;
    }
    return QAccessibleWidget::text(t);
}

QStringList LinkLabelAccessible::actionNames() const
{
    QStringList names = QAccessibleWidget::actionNames();
    if (Label()->isEnabled())
        names.prepend(pressAction());
    return names;
}

void LinkLabelAccessible::doAction(const QString &actionName)
{
    if (actionName == pressAction()) {
        if (Label()->isEnabled())
            Label()->Press();
        return;
    }
    QAccessibleWidget::doAction(actionName);
}

QStringList LinkLabelAccessible::keyBindingsForAction(const QString &actionName) const
{
    if (actionName == pressAction())
        return {QStringLiteral("Space")};
    return QAccessibleWidget::keyBindingsForAction(actionName);
}

} // namespace dv
