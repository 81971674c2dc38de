#include "style.h"

#include "platform.h"

namespace corvane::style {

bool InitStyles()
{
    return platform::StartCommonControls();
}

} // namespace corvane::style
