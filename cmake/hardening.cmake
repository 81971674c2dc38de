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
# The flags are for the Release configuration alone, however its name is
# spelled (-DCMAKE_BUILD_TYPE=release) and with multi-config generators too:
# each is given behind $<CONFIG:Release>, which compares without case.
# Sets CORVANE_HARDENED when a configuration of this build can have them: the
# build type is Release, or the generator is multi-config.
option(CORVANE_HARDENING "Build the Release configuration with exploit mitigations" ON)

set(CORVANE_HARDENED OFF)
get_property(corvane_multi_config GLOBAL PROPERTY GENERATOR_IS_MULTI_CONFIG)
string(TOUPPER "${CMAKE_BUILD_TYPE}" corvane_build_type)
if(CORVANE_HARDENING AND (corvane_multi_config OR corvane_build_type STREQUAL "RELEASE")
        AND NOT CORVANE_SANITIZE AND NOT CORVANE_FUZZ
        AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    set(CORVANE_HARDENED ON)
endif()
if(NOT CORVANE_HARDENED)
    return()
endif()

set(corvane_release "$<CONFIG:Release>")
add_compile_options("$<${corvane_release}:-fstack-protector-strong;-Wformat;-Werror=format-security>")
if(MINGW)
    # The flag on the link line too: only then does the driver link libssp.
    add_link_options("$<${corvane_release}:-fstack-protector-strong;LINKER:--dynamicbase>"
        "$<${corvane_release}:LINKER:--nxcompat;LINKER:--high-entropy-va>")
elseif(UNIX AND NOT APPLE)
    add_compile_options("$<${corvane_release}:-fstack-clash-protection;-fcf-protection;-Wdate-time>")
    add_compile_definitions("$<${corvane_release}:_FORTIFY_SOURCE=2>")
    add_link_options("$<${corvane_release}:LINKER:-z,relro;LINKER:-z,now>")
endif()
