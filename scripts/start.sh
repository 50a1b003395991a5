#!/usr/bin/env bash
# Builds Quillon and starts it: the desktop program when there is a display, else the
# window-less relay in the foreground.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset app >/dev/null
cmake --build --preset app
bin=build/app/bin
# Port 25 is below 1024: both programs get the right to bind low ports once per build.
for program in quillon quillon-relay; do
  if ! getcap "$bin/$program" 2>/dev/null | grep -q cap_net_bind_service; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo setcap cap_net_bind_service=+ep "$bin/$program"
    echo "Gave $bin/$program the right to listen on ports below 1024 (setcap cap_net_bind_service=+ep${sudo:+, through sudo})."
  fi
done
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set): running the relay without a window, $bin/quillon-relay (Ctrl+C stops it)."
  exec "$bin/quillon-relay"
fi
exec "$bin/quillon" "$@"
