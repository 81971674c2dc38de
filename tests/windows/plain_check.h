#pragma once

// The checks of a plain Windows test program: one line a check, then
// "N passed, N failed" from finish(), whose value is the exit status.
#include <cstdio>

namespace plain_check {

inline int passed = 0, failed = 0;

inline void check(bool condition, const char *what)
{
    std::printf("%s: %s\n", condition ? "PASS" : "FAIL", what);
    ++(condition ? passed : failed);
}

inline int finish()
{
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}

} // namespace plain_check
