#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

// Answers every modal message box that opens while it lives, noting what the
// box showed.
class MessageBoxWatcher final : public QObject {
public:
    struct Seen {
        QString title;
        QString text;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
    };

    MessageBoxWatcher()
    {
        timer_.setInterval(20);
        connect(&timer_, &QTimer::timeout, this, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible() || handled_ == box)
                return;
            handled_ = box;
            seen << Seen{box->windowTitle(), box->text(), box->icon(), box->standardButtons()};
            if (beforeAnswer)
                beforeAnswer();
            box->accept();
        });
        timer_.start();
    }

    QList<Seen> seen;
    // Runs while the box is still open, just before it is answered.
    std::function<void()> beforeAnswer;

private:
    QTimer timer_;
    QPointer<QMessageBox> handled_;
};
