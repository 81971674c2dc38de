#pragma once

#include "clickable_label.h"

#include <QByteArray>
#include <QPointer>

class QMenu;

namespace corvane {

// The download link's label, usable as links are everywhere else: a click
// opens it; Tab reaches it (a click never gives it the focus) and Enter,
// the keypad's Enter or Space open it; the pointer resting on it shows where
// it goes; its menu (a right click, the Menu key, Shift+F10) opens or copies
// it, and Ctrl+C copies it. Screen readers see a link with one action
// (link_label_accessible).
class LinkLabel final : public ClickableLabel {
    Q_OBJECT

public:
    explicit LinkLabel(QWidget *parent = nullptr);

    // Where the link goes, as the bytes the system's opener gets; empty
    // while none.
    QByteArray target() const { return target_; }
    void setTarget(const QByteArray &target);

    // What a click does, while the label is shown.
    void activate();
    // Puts the target on the clipboard, as text and as a URL, the same
    // bytes in each.
    void copyTarget() const;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void showMenu(const QPoint &globalPosition);

    QByteArray target_;
    QPointer<QMenu> menu_;
};

} // namespace corvane
