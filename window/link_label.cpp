#include "link_label.h"

#include "link_label_accessible.h"

#include <QAccessible>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

namespace corvane {

namespace {

// The link as the clipboard's text and, on X11, as text/uri-list (from which
// X11's text/x-moz-url is made) with the same bytes: QMimeData keeps a
// text/uri-list as QUrls, which change escapes.
class LinkMimeData final : public QMimeData {
public:
    explicit LinkMimeData(const QByteArray &link)
        : link_(link)
    {
        setText(QString::fromLatin1(link));
    }

#ifndef Q_OS_WIN
    QStringList formats() const override
    {
        return QMimeData::formats() << QStringLiteral("text/uri-list");
    }

protected:
    QVariant retrieveData(const QString &format, QMetaType type) const override
    {
        if (format == u"text/uri-list")
            return QVariant(link_ + "\r\n");
        return QMimeData::retrieveData(format, type);
    }
#endif

private:
    QByteArray link_;
};

} // namespace

LinkLabel::LinkLabel(QWidget *parent)
    : ClickableLabel(parent)
{
    // Before any interface of the label is asked for: Qt keeps the first.
    static const bool accessible = [] {
        QAccessible::installFactory(&AccessibleLinkLabel);
        return true;
    }();
    Q_UNUSED(accessible);
    setFocusPolicy(Qt::TabFocus);
}

void LinkLabel::setTarget(const QByteArray &target)
{
    target_ = target;
    setToolTip(QString::fromLatin1(target));
}

void LinkLabel::activate()
{
    if (isVisible())
        emit clicked();
}

void LinkLabel::copyTarget() const
{
    if (target_.isEmpty())
        return;
    auto *copied = new LinkMimeData(target_);
    // The URL formats get the bytes themselves: from a QUrl, Qt would write
    // the link as QUrl normalises it, and on Windows decoded.
#ifdef Q_OS_WIN
    // Qt 6.4 fills the URL formats only from QUrls, decoded, and keeps the
    // name of the ANSI one to itself: the wide one, which browsers and
    // Explorer read, is given the link's bytes here, and the ANSI one is
    // left out rather than given other bytes than the text's.
    const QString wide = QString::fromLatin1(target_);
    copied->setData(
        QStringLiteral("UniformResourceLocatorW"),
        QByteArray(reinterpret_cast<const char *>(wide.utf16()), (wide.size() + 1) * 2));
#endif
    QGuiApplication::clipboard()->setMimeData(copied);
}

void LinkLabel::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
        // A held key opens the link once, on its first press.
        if (!event->isAutoRepeat())
            activate();
    } else if (key == Qt::Key_Menu
               || (key == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier)) {
        showMenu(mapToGlobal(contentsRect().center()));
    } else if (event->matches(QKeySequence::Copy)) {
        copyTarget();
    } else {
        ClickableLabel::keyPressEvent(event);
    }
}

void LinkLabel::contextMenuEvent(QContextMenuEvent *event)
{
    showMenu(event->reason() == QContextMenuEvent::Mouse ? event->globalPos()
                                                         : mapToGlobal(contentsRect().center()));
}

void LinkLabel::showMenu(const QPoint &globalPosition)
{
    // X11 sends the Menu key both as a context-menu event and as the key
    // itself: the second finds the menu open, and the menu takes it.
    if (menu_ && menu_->isVisible())
        return;
    if (!menu_) {
        menu_ = new QMenu(this);
        menu_->addAction(tr("Open Link"), this, &LinkLabel::activate);
        menu_->addAction(tr("Copy Link Address"), this, &LinkLabel::copyTarget);
    }
    menu_->popup(globalPosition);
}

void LinkLabel::paintEvent(QPaintEvent *event)
{
    ClickableLabel::paintEvent(event);
    if (!hasFocus())
        return;
    // The style's focus frame, around the caption.
    QStylePainter painter(this);
    QStyleOptionFocusRect option;
    option.initFrom(this);
    const int flags = int(alignment()) | Qt::TextWordWrap;
    option.rect
        = fontMetrics().boundingRect(contentsRect(), flags, text()).adjusted(-2, 0, 2, 1) & rect();
    option.backgroundColor = palette().color(backgroundRole());
    painter.drawPrimitive(QStyle::PE_FrameFocusRect, option);
}

} // namespace corvane
