#!/usr/bin/env bash
# Smoke test of the real desktop program under Xvfb with a small system tray (trayer):
# the tray icon is embedded, the main window is shown, screenshots land in the build
# folder, and SIGTERM ends the program with status 0 after it saved its view settings.
# Usage: smoke_test.sh QUILLON X11_SCREENSHOT SCREENSHOT_DIR. Exit 77 means skipped.
set -u
quillon=$1 shot=$2 shots=$3
for tool in Xvfb trayer xwininfo python3; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed (scripts/deps.sh test installs xvfb, trayer and x11-utils)"
    exit 77
  fi
done

work=$(mktemp -d /tmp/quillon-smoke-XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; [ -f "$work/quillon.log" ] && sed 's/^/  quillon: /' "$work/quillon.log"; exit 1; }

# A display number nobody uses.
for n in $(seq 90 140); do
  [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] || { display=:$n; break; }
done
Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
export DISPLAY=$display
xwininfo -root >/dev/null 2>&1 || fail "Xvfb did not start on $display"

trayer --edge bottom --align right --widthtype pixel --width 64 --height 32 --SetDockType false >"$work/trayer.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do xwininfo -root -tree 2>/dev/null | grep -q '"panel"' && break; sleep 0.1; done

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir -p "$work/config/quillon" "$work/data" "$work/run" "$shots"
chmod 700 "$work/run"
printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Nimbrel\\Quillon Pro]\r\n"MinToTray"=dword:00000001\r\n"SMTPPort"=dword:%08x\r\n"SMTPMultiIPBind"=dword:00000001\r\n"SMTPMultiIPBinds"="127.0.0.1:%d"\r\n"AutoDetectDNS"=dword:00000000\r\n"DNSPrimary"="127.0.0.1"\r\n"DNSSecondary"="127.0.0.1"\r\n' \
  "$port" "$port" > "$work/config/quillon/registry.reg"

# Without a D-Bus session Qt offers its icon through the X11 tray protocol, which trayer speaks.
env -u DBUS_SESSION_BUS_ADDRESS -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb \
  XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work/run" \
  "$quillon" >"$work/quillon.log" 2>&1 &
qpid=$!
pids+=($qpid)

shown=""
for _ in $(seq 100); do
  xwininfo -name "Quillon Pro" 2>/dev/null | grep -q 'Map State: IsViewable' && { shown=1; break; }
  sleep 0.1
done
[ -n "$shown" ] || fail "the main window \"Quillon Pro\" was not shown"

# The embedded icon is a child window inside trayer's panel.
icon=""
for _ in $(seq 100); do
  tree=$(xwininfo -root -tree 2>/dev/null)
  if echo "$tree" | awk '/"panel"/{p=1} p && /[0-9]+x[0-9]+\+/{n++} END{exit !(n>=2)}'; then icon=1; break; fi
  sleep 0.1
done
xwininfo -root -tree > "$shots/windows.txt" 2>&1
[ -n "$icon" ] || fail "no tray icon was embedded in trayer (window tree in $shots/windows.txt)"

python3 - "$port" <<'PY' || fail "the SMTP server did not answer on port $port"
import socket, sys
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=5)
assert s.recv(200).startswith(b"220")
PY
sleep 0.5
"$shot" "$shots/main-window.png" || fail "no screenshot"

kill -TERM "$qpid"
wait "$qpid"
rc=$?
pids=("${pids[@]/$qpid}")
[ "$rc" -eq 0 ] || fail "quillon ended with status $rc after SIGTERM"
grep -q '"ViewLog"=dword:00000001' "$work/config/quillon/registry.reg" || fail "view settings were not saved at the end"
echo "PASS: window shown, tray icon embedded, server answered, clean end; screenshots in $shots"
