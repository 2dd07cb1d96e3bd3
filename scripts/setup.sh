# Shared set-up of run.sh and test.sh: installs the Debian packages that are
# missing and configures the build. Source it; it defines ensure_packages
# and configure_build.

ensure_packages() {
    local missing=()
    local package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
            sudo=(sudo -n)
        else
            echo "error: these Debian packages are missing and cannot be installed without root: ${missing[*]}" >&2
            echo "       install them with: sudo apt-get install ${missing[*]}" >&2
            exit 1
        fi
    fi
    echo "Installing Debian packages: ${missing[*]}"
    if ! "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq ||
        ! "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"; then
        echo "error: could not install the Debian packages: ${missing[*]}" >&2
        exit 1
    fi
}

# What the viewer needs to build and run: a compiler and CMake, the Xlib,
# RandR (which lists the monitors) and OpenGL headers, the libOpenGL and
# libGLX it links (never the legacy libGL), Mesa's GLX with its software
# rasterizer, and, for machines
# without a display, a virtual X server (with xauth, which xvfb-run needs)
# and the XTEST client library that the snapshot driver types with; Xft
# and fontconfig with a scalable font for the text of message boxes; for
# Wayland compositors, the client library with its protocols and scanner,
# Mesa's EGL, xkbcommon, libdecor with its drawing plugin, and FreeType.
BUILD_PACKAGES=(g++ make cmake libx11-dev libxtst-dev libxrandr-dev libgl-dev libopengl-dev libglx-dev libglx-mesa0 libgl1-mesa-dri xvfb xauth
    libxft-dev fonts-dejavu-core pkg-config
    libwayland-dev libwayland-bin wayland-protocols libegl-dev libegl-mesa0 libxkbcommon-dev libdecor-0-dev
    libdecor-0-plugin-1-cairo libfreetype-dev libfontconfig-dev)
# What the tests add: GoogleTest, valgrind for the memcheck session, and
# real desktops to run the viewer under: a stacking and a tiling window
# manager, a second stacking one, GNOME's (with the session bus it wants),
# and a compositing manager; a nested server whose screen can change size,
# and the tool that changes it (and xhost, with which sway's XWayland lets
# root in); Xorg with its dummy driver, a screen that xrandr divides into
# several monitors; sway, a tiling Wayland compositor, with XWayland; for native
# Wayland clients, weston, a second compositor (whose screenshots libpng
# reads), and wtype and grim, which type keys and take screenshots under sway;
# KDE's compositor with its window decorations, and the fake input protocol
# that puts a finger on its touch screen.
TEST_PACKAGES=(libgtest-dev valgrind openbox i3-wm jwm mutter dbus-daemon xcompmgr xserver-xephyr x11-xserver-utils
    xserver-xorg-core xserver-xorg-video-dummy
    sway xwayland weston wtype grim libpng-dev kwin-wayland kwin-style-breeze plasma-wayland-protocols)

# What installing and packaging add: CPack's Debian generator needs
# dpkg-shlibdeps and file; the checks validate the desktop entry and the
# AppStream metadata, run Debian's package checker and install the package
# into a fresh root made by debootstrap.
PACKAGING_PACKAGES=(dpkg-dev file desktop-file-utils appstream lintian debootstrap)

# What the Windows build adds: the MinGW-w64 cross compiler, Wine to run
# what it builds, and wixl to build the MSI installer.
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64 wine64 wine wixl)

configure_build() {
    local build_dir=$1
    shift
    cmake -S "$ROOT" -B "$build_dir" "$@" >/dev/null || exit 1
}
