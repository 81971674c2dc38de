# Shared by the set-up scripts: installs missing Debian packages.
# Usage: ensure_packages PACKAGE...

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
    missing=$(missing_packages "$@" | tr '\n' ' ')
    missing=${missing% }
    [ -z "$missing" ] && return 0

    echo "Installing the Debian packages this needs: $missing"
    if [ "$(id -u)" -eq 0 ]; then
        apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing
    elif command -v sudo >/dev/null 2>&1; then
        sudo apt-get update -qq && sudo DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing
    else
        echo "Neither root nor sudo is available. Install them, then run this again:" >&2
        echo "    apt-get update && apt-get install -y $missing" >&2
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
# the .deb and its validators, and the Windows pieces (mingw-w64, Wine).
TEST_PACKAGES=(clang-14 libclang-rt-14-dev util-linux iproute2 clang-format-14
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
