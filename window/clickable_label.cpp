#include "clickable_label.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QStyleHints>

namespace corvane {

void ClickableLabel::mousePressEvent(QMouseEvent *event)
{
    // The second press of a double click comes here too, as a double-click
    // event; the third of a triple click as a plain press.
    pressed_ = false;
    if (event->button() == Qt::LeftButton) {
        const quint64 interval = quint64(QGuiApplication::styleHints()->mouseDoubleClickInterval());
        const bool continues = event->type() == QEvent::MouseButtonDblClick
                               || (lastPress_ && event->timestamp() - *lastPress_ < interval);
        pressed_ = !continues;
        lastPress_ = event->timestamp();
    }
    QLabel::mousePressEvent(event);
}

void ClickableLabel::mouseReleaseEvent(QMouseEvent *event)
{
    const bool click = pressed_ && event->button() == Qt::LeftButton
                       && rect().contains(event->position().toPoint());
    pressed_ = false;
    QLabel::mouseReleaseEvent(event);
    if (click)
        emit clicked();
}

} // namespace corvane
