#pragma once

#include <QLabel>

namespace corvane {

// A label that reports a click: a left-button press and release inside it.
class ClickableLabel final : public QLabel {
    Q_OBJECT

public:
    using QLabel::QLabel;

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    bool pressed_ = false;
};

} // namespace corvane
