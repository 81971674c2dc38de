#pragma once

#include "window_operations.h"

#include <QStringList>

#include <functional>

// The window operations on plain fields, with a log of what was done.
class RecordingWindow final : public corvane::WindowOperations {
public:
    QString RequestText() const override { return requestText; }
    void SetStatusCaption(const QString &caption) override
    {
        statusCaption = caption;
        log << QStringLiteral("status ") + caption;
    }
    void SetLinkCaption(const QString &caption) override
    {
        linkCaption = caption;
        log << QStringLiteral("link ") + caption;
    }
    void SetLinkVisible(bool visible) override
    {
        linkVisible = visible;
        log << (visible ? QStringLiteral("show link") : QStringLiteral("hide link"));
    }
    void ShowErrorBox(const QString &message) override
    {
        errorBoxes << message;
        log << QStringLiteral("error ") + message;
        if (whileErrorBoxShows)
            whileErrorBoxShows();
    }

    QString requestText;
    QString statusCaption;
    QString linkCaption;
    bool linkVisible = false;
    QStringList errorBoxes;
    QStringList log;
    // Runs as if inside the modal box, before it returns.
    std::function<void()> whileErrorBoxShows;
};
