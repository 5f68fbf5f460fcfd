#!/usr/bin/env bash
# Installs the Debian 12 packages Tallimo needs. Does nothing (and needs no
# network or root) when all of them are present.
#   install-deps.sh run    to build and run Tallimo (scripts/run.sh)
#   install-deps.sh        to build, run and test it (scripts/test.sh)
set -euo pipefail

# Building and running. Add a dependency by adding a line to one of the lists.
PACKAGES=(
  g++
  cmake
  ninja-build
  ccache
  pkg-config
  qt6-base-dev
  qt6-qpa-plugins # xcb and offscreen platform plugins
  libgl-dev       # Qt6Gui's CMake package looks for OpenGL
  libsdl2-dev     # in-memory wave playback
  libxcb1-dev     # window states Qt leaves unset on X11
  libxcb-xkb-dev  # a held key is one press: the keyboard's detectable auto-repeat
  libxcb-xinput-dev # ... and is let go when released in another program
  fonts-ipafont-gothic # the Japanese fonts the layout is drawn with
)
# Running without a display: a virtual X server, a window manager, and the
# tools that take the screenshot and close the window as a user would.
HEADLESS=(
  xvfb
  xauth
  openbox
  xdotool
  wmctrl
  imagemagick
)
# Everything the tests use.
TESTING=(
  libgtest-dev
  libgmock-dev
  x11-utils
  faketime # a faked clock brings alarm and hourly report within seconds
  libfaketime
  python3
  # what a screen reader sees, through AT-SPI on a private session bus
  at-spi2-core
  python3-pyatspi
  orca # what a screen reader says (its log), and GTK for another program's window
  # the scenario driver's X connection: a double click's presses in one batch
  python3-xlib
  # two monitors on the virtual X server (xrandr --setmonitor)
  x11-xserver-utils
  dbus
  # a Wayland session with XWayland, where Tallimo must still choose X11
  weston
  qt6-wayland
  # the native Windows .exe (scripts/test-windows.sh): mingw-w64 with posix
  # threads, Wine to run its tests, Wine's own fonts, a Japanese locale to build
  g++-mingw-w64-x86-64-posix
  wine
  wine64
  fonts-wine
  locales
  # installing: icons rendered from the SVG, desktop entry and metainfo checks
  librsvg2-bin
  desktop-file-utils
  appstream
  # the benchmark's X probe (bench/run.sh)
  libxcb-damage0-dev
  libxcb-xtest0-dev
  # reliability stage: libFuzzer targets (clang), unprivileged runs (setpriv)
  clang
  libclang-rt-14-dev
  util-linux
  # the test-size count puts every file through its formatter first
  clang-format
  black
)

if [[ "${1:-}" == run ]]; then
  [[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]] || PACKAGES+=("${HEADLESS[@]}")
else
  PACKAGES+=("${HEADLESS[@]}" "${TESTING[@]}")
fi

die() {
  echo "install-deps: $*" >&2
  exit 1
}

is_installed() {
  [[ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null || true)" == installed ]]
}

missing_packages() {
  local pkg
  for pkg in "${PACKAGES[@]}"; do
    is_installed "$pkg" || echo "$pkg"
  done
}

command -v dpkg-query >/dev/null || die "dpkg-query not found: this script is for Debian 12."

mapfile -t missing < <(missing_packages)
if ((${#missing[@]} == 0)); then
  echo "install-deps: all ${#PACKAGES[@]} packages are already installed."
  exit 0
fi

# apt-get needs root; a desktop user gets there through sudo.
if ((EUID == 0)); then
  as_root=()
elif command -v sudo >/dev/null; then
  as_root=(sudo)
else
  die "missing packages (${missing[*]}) and not root, and sudo is not installed; run this as root."
fi

echo "install-deps: installing ${missing[*]}"
# Refresh the package lists only now: a machine that has everything stays offline.
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update ||
  die "apt-get update failed."
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y --no-install-recommends "${missing[@]}" ||
  die "apt-get install failed for: ${missing[*]}"

# apt-get can succeed without installing what was asked for (held packages, say).
mapfile -t still_missing < <(missing_packages)
((${#still_missing[@]} == 0)) || die "still not installed: ${still_missing[*]}"
echo "install-deps: done."
