# The exploit mitigations of the release build: the program reads bytes from
# any host a user pastes. The debug, sanitizer and fuzz builds go without
# them (the sanitizers bring their own checks, and fortified calls would hide
# faults from them).
#
# On Linux these are Debian's hardening flags, as `dpkg-buildflags` gives
# them with DEB_BUILD_MAINT_OPTIONS=hardening=+all (PIE is the compiler's
# default), written out so that the build needs no dpkg-dev, plus the stack
# clash and control-flow protection that newer Debian adds. On Windows the
# stack protector, which needs GCC's libssp-0.dll beside the program
# (packaging/windows ships it), and ASLR with high entropy and DEP, asked for
# by name so that they stay whatever the linker's defaults become.
#
# Sets CORVANE_HARDENED when the flags apply.
option(CORVANE_HARDENING "Build the Release configuration with exploit mitigations" ON)

set(CORVANE_HARDENED OFF)
if(CORVANE_HARDENING AND CMAKE_BUILD_TYPE STREQUAL "Release" AND NOT CORVANE_SANITIZE
        AND NOT CORVANE_FUZZ AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    set(CORVANE_HARDENED ON)
endif()
if(NOT CORVANE_HARDENED)
    return()
endif()

add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security)
if(MINGW)
    # The flag on the link line too: only then does the driver link libssp.
    add_link_options(-fstack-protector-strong LINKER:--dynamicbase LINKER:--nxcompat
        LINKER:--high-entropy-va)
elseif(UNIX AND NOT APPLE)
    add_compile_options(-fstack-clash-protection -fcf-protection -Wdate-time)
    add_compile_definitions(_FORTIFY_SOURCE=2)
    add_link_options(LINKER:-z,relro LINKER:-z,now)
endif()
