#include "style.h"

#ifdef _WIN32
#include "platform_win.h"
#endif

namespace corvane::style {

bool InitStyles()
{
#ifdef _WIN32
    return win::InitCommonControls();
#else
    // QApplication sets up the widget styles itself; there is nothing to start.
    return true;
#endif
}

} // namespace corvane::style
