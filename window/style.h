#pragma once

namespace corvane::style {

// Starts the common controls at program start; true when nothing failed.
bool InitStyles();

} // namespace corvane::style
