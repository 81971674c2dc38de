# shellcheck shell=bash
# shellcheck disable=SC2034 # the package lists are for the scripts that source this
# Shared by the scripts (sourced, from the repository's root):
#   ensure_packages PACKAGE...   installs the Debian packages that are missing
#   check WHAT COMMAND [ARG...]  one counted check, see below
#   checks_tally LABEL           the counted checks' verdict
#   project_version              the program's version, from CMakeLists.txt
#   shell_scripts                the shell scripts that shellcheck reads

missing_packages() {
    local package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q '^install ok installed$'; then
            printf '%s\n' "$package"
        fi
    done
}

ensure_packages() {
    local missing
    mapfile -t missing < <(missing_packages "$@")
    [ ${#missing[@]} -eq 0 ] && return 0

    echo "Installing the Debian packages this needs: ${missing[*]}"
    if [ "$(id -u)" -eq 0 ]; then
        apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
    elif command -v sudo >/dev/null 2>&1; then
        sudo apt-get update -qq \
            && sudo DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
    else
        echo "Neither root nor sudo is available. Install them, then run this again:" >&2
        echo "    apt-get update && apt-get install -y ${missing[*]}" >&2
        return 1
    fi
}

# Packages for building the program and its tests (llhttp's C sources come
# with node-llhttp; unicode-data lists the characters that render as nothing).
BUILD_PACKAGES=(cmake ninja-build g++ qt6-base-dev node-llhttp zlib1g-dev unicode-data)
# Packages the program needs at run time: Arial's metrics, the link opener.
RUN_PACKAGES=(fonts-liberation xdg-utils)
# Packages the tests need besides: the sanitizer and fuzzing build, a private
# network namespace for the loopback tests, clang-format for the format check,
# the scripts' linter (shellcheck), the .deb and its validators, and the
# Windows pieces (mingw-w64, Wine).
TEST_PACKAGES=(clang-14 libclang-rt-14-dev util-linux iproute2 clang-format-14 shellcheck
    dpkg-dev desktop-file-utils appstream
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64)
# Real HTTP servers that the reply reader is tested against.
TEST_PACKAGES+=(nginx python3)
TEST_PACKAGES+=(curl wget)  # real clients resuming and revalidating downloads from the stand-in
BENCH_PACKAGES=(wrk nginx)  # bench/standin-load: the stand-in under load against nginx
TEST_PACKAGES+=(lintian)  # the .deb checked against Debian's policy
TEST_PACKAGES+=(devscripts)  # hardening-check, of the programs' exploit mitigations
TEST_PACKAGES+=(libz-mingw-w64-dev nsis xvfb jwm xdotool x11-utils imagemagick tesseract-ocr socat locales)  # the Windows program: zlib for it, its installer, and driving it under Wine
TEST_PACKAGES+=(xvfb jwm dbus at-spi2-core)  # the link label driven over AT-SPI, as screen readers drive it

# Counted checks, for a script that checks many things and ends with a tally:
#   check WHAT COMMAND [ARG...]
# runs COMMAND and prints "PASS: WHAT" or "FAIL: WHAT" as it succeeds or not,
# counting it in checks_passed or checks_failed; a failure does not stop the
# script. At the end,
#   checks_tally LABEL
# prints "LABEL: N passed, N failed" and fails when a check failed.
checks_passed=0
checks_failed=0
check() {
    local what=$1
    shift
    if "$@"; then
        echo "PASS: $what"
        checks_passed=$((checks_passed + 1))
    else
        echo "FAIL: $what"
        checks_failed=$((checks_failed + 1))
    fi
}
checks_tally() {
    echo "$1: $checks_passed passed, $checks_failed failed"
    [ "$checks_failed" -eq 0 ]
}

# The version in project() of CMakeLists.txt, the one place it is written,
# such as 1.0.0.3.
project_version() {
    sed -n '/^project(/,/)/s/^[[:space:]]*VERSION[[:space:]]\{1,\}\([0-9.]\{1,\}\).*/\1/p' \
        "$(dirname "${BASH_SOURCE[0]}")/../CMakeLists.txt"
}

# The shell scripts in scripts/, tests/ and packaging/: this file, and every
# file whose first line runs sh or bash.
shell_scripts() {
    local file
    echo scripts/lib.sh
    git ls-files scripts tests packaging | while IFS= read -r file; do
        if head -n 1 "$file" | grep -qE '^#!.*[/ ](ba)?sh$'; then
            printf '%s\n' "$file"
        fi
    done
}
