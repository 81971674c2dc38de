// The window's start-up and shut-down handlers.
#include "main_window.h"
#include "platform.h"
#include "style.h"

#include <QPushButton>

namespace corvane {

LifecycleCalls LifecycleCalls::platform()
{
    return {&style::InitStyles, &platform::SuppressFaultDialog};
}

void Corvane_Downloader::Form_Initialize()
{
    calls_.InitStyles();
}

void Corvane_Downloader::Form_Load()
{
    // The window opens with Download focused; the download state starts
    // empty.
    Command1->setFocus();
}

void Corvane_Downloader::Form_Unload()
{
    // Through the command, so that the request it holds and the reply's
    // time-out go with the connection.
    command_->CloseSocket();
}

void Corvane_Downloader::Form_Terminate()
{
    calls_.SuppressFaultDialog();
}

} // namespace corvane
