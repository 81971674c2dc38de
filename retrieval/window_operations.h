#pragma once

#include <QString>

namespace corvane {

// What the Download command needs of the window.
class WindowOperations {
public:
    virtual ~WindowOperations() = default;

    // The text of txtRequest.
    virtual QString RequestText() const = 0;
    // The status line, Label2.
    virtual void SetStatusCaption(const QString &caption) = 0;
    // The link label, Label1: its caption, and the link it opens.
    virtual void SetLinkCaption(const QString &caption, const QString &DownloadLink) = 0;
    virtual void SetLinkVisible(bool visible) = 0;
    // A modal warning box titled "ERROR" with one OK button; returns when the
    // user has closed it.
    virtual void ShowErrorBox(const QString &message) = 0;

protected:
    WindowOperations() = default;
    WindowOperations(const WindowOperations &) = default;
    WindowOperations &operator=(const WindowOperations &) = default;
};

} // namespace corvane
