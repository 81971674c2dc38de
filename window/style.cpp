#include "style.h"

#include "platform.h"

namespace corvane::style {

bool InitStyles()
{
    return platform::InitCommonControls();
}

} // namespace corvane::style
