#include "link_label_accessible.h"

#include "link_label.h"

#include <QAccessibleWidget>

namespace corvane {

namespace {

class AccessibleLink final : public QAccessibleWidget {
public:
    explicit AccessibleLink(LinkLabel *label)
        : QAccessibleWidget(label, QAccessible::Link)
    {
    }

    QString text(QAccessible::Text kind) const override
    {
        // QAccessibleWidget reads no label's caption.
        if (kind == QAccessible::Name)
            return label()->text();
        if (kind == QAccessible::Description)
            return QString::fromLatin1(label()->target());
        return QAccessibleWidget::text(kind);
    }

    QStringList actionNames() const override { return {pressAction()}; }

    void doAction(const QString &actionName) override
    {
        if (actionName == pressAction())
            label()->activate();
    }

    QStringList keyBindingsForAction(const QString &) const override { return {}; }

private:
    LinkLabel *label() const { return static_cast<LinkLabel *>(widget()); }
};

} // namespace

QAccessibleInterface *AccessibleLinkLabel(const QString &className, QObject *object)
{
    if (className != QLatin1String(LinkLabel::staticMetaObject.className()) || !object
        || !object->isWidgetType())
        return nullptr;
    return new AccessibleLink(static_cast<LinkLabel *>(object));
}

} // namespace corvane
