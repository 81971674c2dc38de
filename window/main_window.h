#pragma once

#include "download_command.h"
#include "download_state.h"
#include "tcp_socket.h"
#include "window_operations.h"

#include <QPointer>
#include <QWidget>

#include <functional>

class QGroupBox;
class QLabel;
class QLineEdit;
class QMessageBox;
class QPushButton;

namespace corvane {

class LinkLabel;

// The platform calls of the window's start and end: the real ones unless a
// test puts its own.
struct LifecycleCalls {
    // Starts the common controls (style::InitStyles); the result is not used.
    std::function<bool()> InitStyles;
    // No fault dialog from now on (platform::SuppressFaultDialog).
    std::function<void()> SuppressFaultDialog;

    static LifecycleCalls platform();
};

// The program's only window: a text box for the video link, the Download
// button, the status line and the link label. It owns the socket and the
// download state for the whole run.
class Corvane_Downloader final : public QWidget, public WindowOperations {
    Q_OBJECT

public:
    explicit Corvane_Downloader(QWidget *parent = nullptr);
    explicit Corvane_Downloader(LifecycleCalls calls, QWidget *parent = nullptr);
    ~Corvane_Downloader() override;

    QString RequestText() const override;
    void SetStatusCaption(const QString &caption) override;
    void SetLinkCaption(const QString &caption, const QString &DownloadLink) override;
    void SetLinkVisible(bool visible) override;
    void ShowErrorBox(const QString &message) override;

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createControls();

    // The window's own handlers (lifecycle.cpp).
    void Form_Initialize();
    void Form_Load();
    void Form_Unload();
    void Form_Terminate();
    void txtRequest_GotFocus();
    void Label1_Click();

    // What the Download button runs.
    void pressDownload();
    // Tells screen readers the status and the link on offer, if any.
    void describeOutcome();

    LifecycleCalls calls_;
    DownloadState state_;
    // Children of the window, but deleted first by its destructor: the
    // command works on the socket, on state_ and on this window.
    TcpSocket *Winsock = nullptr;
    DownloadCommand *command_ = nullptr;

    QLineEdit *txtRequest = nullptr;
    QPushButton *Command1 = nullptr;
    QGroupBox *Frame1 = nullptr;
    QLabel *Label4 = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Label2 = nullptr;
    LinkLabel *Label1 = nullptr;
    // The error box while it is open.
    QPointer<QMessageBox> errorBox_;
};

} // namespace corvane
