#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need. One list, shared by the
# README's commands and CI.
set -euo pipefail
packages=(
  cmake ninja-build pkg-config g++ clang clang-format libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libqt6opengl6-dev qt6-image-formats-plugins libgl-dev libgl1-mesa-dri libegl-mesa0
  fonts-dejavu-core fonts-roboto xvfb xauth openbox libxcb1-dev
  portaudio19-dev libjack-jackd2-dev jackd2 libasound2-dev libsndfile1-dev libsamplerate0-dev
  libkissfft-dev librtmidi-dev
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev ffmpeg
  dbus avahi-daemon libavahi-client-dev iproute2
  libplist-dev socat libudev-dev libpcre2-dev libssl-dev openssl
)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
# apt-get update does not wait for apt's lists lock, which another set-up (a second checkout's,
# the system's own) may hold: try again for up to ten minutes.
for attempt in $(seq 60); do
    $sudo apt-get update -q && break
    [ "$attempt" -lt 60 ] || exit 1
    sleep 10
done
$sudo apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=600 "${packages[@]}"
