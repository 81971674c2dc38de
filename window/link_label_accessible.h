#pragma once

class QAccessibleInterface;
class QObject;
class QString;

namespace corvane {

// The accessible interface of a LinkLabel, for QAccessible::installFactory:
// role Link, its caption as the name, its target as the description, and
// one action, Press, which does what a click does. Null for anything else.
QAccessibleInterface *AccessibleLinkLabel(const QString &className, QObject *object);

} // namespace corvane
