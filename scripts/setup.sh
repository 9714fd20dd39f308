#!/usr/bin/env bash
# Installs every Debian package the client, its tests and benchmarks need.
# Safe to run again: packages already present are left alone.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  libcurl4-openssl-dev libssl-dev libjsoncpp-dev libfmt-dev libpugixml-dev
  libgtk-3-dev libwebkit2gtk-4.1-dev libasound2-dev libx11-dev libwayland-dev wayland-protocols
  xvfb xauth x11-utils xdotool trayer
  clang libclang-rt-14-dev lldb
  python3 procps file binutils
  # Voice chat: TLS, Opus, PulseAudio (libpulse-dev brings libpulse0, which
  # the voice module opens at run time) and GStreamer (RTMP publishing); the
  # voice server, audio servers, RTMP ingest and tools the tests and the demo
  # start on loopback; espeak-ng speaks the demo participant's phrase (and
  # the voice tests' speech). The microphone's processing: speexdsp and
  # WebRTC's audio processing (echo cancellers, noise suppressor).
  libspeexdsp-dev libwebrtc-audio-processing-dev
  libssl-dev libopus-dev libpulse-dev libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-pulseaudio
  gstreamer1.0-tools mumble-server pulseaudio pulseaudio-utils nginx libnginx-mod-rtmp ffmpeg espeak-ng
  # Voice test rigs: the Mumble desktop client as a headless peer (its
  # certificate made with openssl, the server it trusts written with sqlite3)
  # and iptables for loss and outages in a test's private network namespace.
  mumble openssl sqlite3 iptables
  # The tray over D-Bus (a private session bus in the tests) and the Debian
  # package (shared-library dependencies, lintian).
  dbus-daemon dpkg-dev lintian
  # Tests of the window on a headless Wayland compositor (no X server), its
  # screenshots, a window manager on Xvfb, and the accessibility bus and its
  # client library that the screen-reader test walks.
  sway grim openbox at-spi2-core libatspi2.0-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
echo "setup: installing ${missing[*]}"
# Servers are only ever started by the tests and the demo, on loopback: no
# package may start a system service (the voice server asks debconf, the rest
# obey policy-rc.d, put in place for the install when the machine has none).
echo "mumble-server mumble-server/start_daemon boolean false" | $SUDO debconf-set-selections
if [ ! -e /usr/sbin/policy-rc.d ]; then
  printf '#!/bin/sh\nexit 101\n' | $SUDO tee /usr/sbin/policy-rc.d >/dev/null
  $SUDO chmod 755 /usr/sbin/policy-rc.d
  trap '$SUDO rm -f /usr/sbin/policy-rc.d' EXIT
fi
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
