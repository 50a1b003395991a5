#!/usr/bin/env bash
# Installs the Debian packages that Quillon needs; quiet and quick when they are all present
# already. "deps.sh" installs what building the program takes; "deps.sh test" adds the
# compilers, libraries and loopback peers (SOCKS servers, SMTP tools) of the tests, and the
# X server and tray of the desktop program's smoke test.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config
  libssl-dev libcurl4-openssl-dev libc-ares-dev libfmt-dev
  qt6-base-dev qt6-multimedia-dev qt6-qpa-plugins libqt6svg6 libcap2-bin
)
if [ "${1:-}" = test ]; then
  packages+=(
    clang libclang-rt-14-dev
    libgtest-dev libgmock-dev
    dante-server microsocks postfix
    swaks python3
    xvfb x11-utils trayer
  )
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  # Only Postfix's smtp-sink and smtp-source are used, by tests and benchmarks on loopback.
  echo "postfix postfix/main_mailer_type select No configuration" | $sudo debconf-set-selections
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
  # The tests start their own SOCKS server on loopback with their own configuration; the
  # system service that the package may have started is not wanted.
  if printf '%s\n' "${missing[@]}" | grep -qx dante-server; then
    $sudo systemctl disable --now danted.service >/dev/null 2>&1 || true
    $sudo invoke-rc.d danted stop >/dev/null 2>&1 || true
  fi
fi
