#pragma once

#include <QLabel>

#include <optional>

namespace corvane {

// A label that reports a click: a left-button press and release inside it.
// A double or triple click is one click: a press that follows the previous
// one within the system's double-click interval only continues it.
class ClickableLabel : public QLabel {
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
    // The time stamp of the last left-button press, while one was seen.
    std::optional<quint64> lastPress_;
};

} // namespace corvane
