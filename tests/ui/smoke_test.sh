#!/usr/bin/env bash
# Smoke test of the real desktop program under Xvfb with a small system tray (trayer):
# the tray icon is embedded, the main window is shown when "MinToTray" asks for it and
# not otherwise, mails sent to the running program appear in its mail list, the first start
# opens the configuration wizard, screenshots (the screen, and the main window alone) land
# in the build folder, and SIGTERM ends the program within five seconds with status 0 after
# it saved its view settings and layout. A single click on the tray icon brings up the
# window that only the tray showed. SIGTERM during an update download that a loopback server
# stalls ends the program the same way, and nothing is opened.
# Usage: smoke_test.sh QUILLON X11_SCREENSHOT SCREENSHOT_DIR X11_CLICK. Exit 77 means skipped.
set -u
quillon=$1 shot=$2 shots=$3 click=$4
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

mkdir -p "$shots" "$work/bin"
printf '#!/bin/sh\necho "$@" >> "%s/opened"\n' "$work" > "$work/bin/xdg-open"
chmod +x "$work/bin/xdg-open"
# The start-up version check goes to a closed loopback port, never to the update service.
update_url="http://127.0.0.1:1/onlineupdate/GetVersionVexaPro.php"
# Starts the program in fresh folders, its settings key holding the values given as printf
# arguments (format first); the PID goes to qpid.
start_quillon() {
  rm -rf "$work/config" "$work/data" "$work/run"
  mkdir -p "$work/config/quillon" "$work/data" "$work/run"
  chmod 700 "$work/run"
  local format=$1
  shift
  # shellcheck disable=SC2059
  printf "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\\\Software\\\\Nimbrel\\\\Quillon Pro]\r\n$format" "$@" > "$work/config/quillon/registry.reg"

  # Without a D-Bus session Qt offers its icon through the X11 tray protocol, which trayer
  # speaks. What the program opens goes to a stand-in for xdg-open that writes it down.
  env -u DBUS_SESSION_BUS_ADDRESS -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb PATH="$work/bin:$PATH" \
    XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work/run" \
    XDG_CACHE_HOME="$work/cache" QUILLON_UPDATE_URL="$update_url" \
    "$quillon" >"$work/quillon.log" 2>&1 &
  qpid=$!
  pids+=($qpid)
}

# SIGTERM must end the program within five seconds, with status 0.
stop_quillon() {
  kill -TERM "$qpid"
  for _ in $(seq 100); do kill -0 "$qpid" 2>/dev/null || break; sleep 0.05; done
  kill -0 "$qpid" 2>/dev/null && fail "$1: the program did not end within five seconds of SIGTERM"
  wait "$qpid"
  local rc=$?
  local rest=() p
  for p in "${pids[@]}"; do [ "$p" = "$qpid" ] || rest+=("$p"); done
  pids=("${rest[@]}")
  [ "$rc" -eq 0 ] || fail "$1: quillon ended with status $rc after SIGTERM"
}

# One start of the program: MinToTray as given, the checks, a screenshot, SIGTERM.
run_case() {
  local min_to_tray=$1 name=$2
  local port
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  start_quillon '"WizardAlreadyRun"=dword:00000001\r\n"MinToTray"=dword:%08x\r\n"SMTPPort"=dword:%08x\r\n"SMTPMultiIPBind"=dword:00000001\r\n"SMTPMultiIPBinds"="127.0.0.1:%d"\r\n"AutoDetectDNS"=dword:00000000\r\n"DNSPrimary"="127.0.0.1"\r\n"DNSSecondary"="127.0.0.1"\r\n"PauseDelivery"=dword:00000001\r\n' \
    "$min_to_tray" "$port" "$port"

  # The embedded icon is a window of the program inside trayer's panel.
  local icon=""
  for _ in $(seq 100); do
    icon=$(xwininfo -root -tree 2>/dev/null |
      awk '/"panel": \(/{p=1; next} p && /^     0x/{p=0} p && /\("quillon"/ && !f{f=$1} END{print f; exit !f}') && break
    icon=""
    sleep 0.1
  done
  xwininfo -root -tree > "$shots/$name-windows.txt" 2>&1
  [ -n "$icon" ] || fail "$name: no tray icon of quillon in trayer's panel (window tree in $shots/$name-windows.txt)"

  python3 - "$port" <<'PY' || fail "$name: the SMTP server did not answer on port $port"
import socket, sys
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=5)
assert s.recv(200).startswith(b"220")
PY
  local viewable=""
  for _ in $(seq 30); do
    xwininfo -name "Quillon Pro" 2>/dev/null | grep -q 'Map State: IsViewable' && { viewable=1; break; }
    sleep 0.1
  done
  if [ "$min_to_tray" = 1 ]; then
    [ -n "$viewable" ] || fail "$name: the main window \"Quillon Pro\" was not shown"
  else
    [ -z "$viewable" ] || fail "$name: the main window was shown although only the tray icon should be"
  fi
  if [ "$min_to_tray" = 1 ]; then
    # Delivery is paused, so the mails stay in the queue category that the window shows,
    # each row with the blue clock of a waiting mail.
    local win waiting_colour=1e5ab4 before after=0
    win=$(xwininfo -name "Quillon Pro" | awk '/Window id:/{print $4}')
    sleep 0.5
    before=$("$shot" "$work/before.png" "$win" "$waiting_colour") || fail "$name: no window screenshot"
    python3 - "$port" <<'PY' || fail "$name: smtplib could not send through port $port"
import smtplib, sys
from email.message import EmailMessage
with smtplib.SMTP("127.0.0.1", int(sys.argv[1]), timeout=10) as s:
    for i in range(3):
        m = EmailMessage()
        m["From"] = "writer%d@client.test" % i
        m["To"] = "reader%d@dest%d.test" % (i, i)
        m["Subject"] = "Smoke test mail %d" % (i + 1)
        m.set_content("Hello.\n")
        s.send_message(m)
PY
    for _ in $(seq 50); do
      after=$("$shot" "$shots/$name-only.png" "$win" "$waiting_colour") || fail "$name: no window screenshot"
      [ "$after" -gt $((before + 40)) ] && break
      sleep 0.1
    done
    [ "$after" -gt $((before + 40)) ] ||
      fail "$name: the sent mails did not appear in the mail list (waiting-image pixels $before before, $after after; see $shots/$name-only.png)"
  fi
  sleep 0.3
  "$shot" "$shots/$name.png" || fail "$name: no screenshot"
  if [ "$min_to_tray" = 0 ]; then
    # What a tray sends for one click on the icon: a press and release of the left button.
    "$click" "$icon" || fail "$name: could not click the tray icon $icon"
    viewable=""
    for _ in $(seq 50); do
      xwininfo -name "Quillon Pro" 2>/dev/null | grep -q 'Map State: IsViewable' && { viewable=1; break; }
      sleep 0.1
    done
    [ -n "$viewable" ] || fail "$name: a single click on the tray icon did not show the main window"
  fi

  stop_quillon "$name"
  grep -q '"ViewLog"=dword:00000001' "$work/config/quillon/registry.reg" || fail "$name: view settings were not saved at the end"
  grep -q '^SortColumn=0' "$work/data/quillon/data/vexa2.ini" || fail "$name: the window layout was not saved at the end"
}

# The first start: the configuration wizard opens before anything else; SIGTERM closes it
# and ends the program.
first_start() {
  start_quillon '"AutoStartServer"=dword:00000000\r\n'
  local shown=""
  for _ in $(seq 100); do
    xwininfo -name "Quillon Configuration Wizard" 2>/dev/null | grep -q 'Map State: IsViewable' && { shown=1; break; }
    sleep 0.1
  done
  [ -n "$shown" ] || fail "first start: the configuration wizard was not shown"
  sleep 0.3
  "$shot" "$shots/first-start-wizard.png" || fail "first start: no screenshot"
  stop_quillon "first start"
}

# Waits for a viewable window of that name; its id, or nothing after five seconds.
viewable_window() {
  local id
  for _ in $(seq 50); do
    id=$(xwininfo -name "$1" 2>/dev/null | awk '/Map State: IsViewable/{v=1} /Window id:/{w=$4} END{if (v) print w}')
    [ -n "$id" ] && { echo "$id"; return; }
    sleep 0.1
  done
}

# SIGTERM while "Upgrade Now" downloads from a server that stalls in the middle of the file:
# the program ends within five seconds with status 0 and opens nothing.
update_quit() {
  python3 - "$work/update" <<'PY' &
import os, socket, sys, threading
base = sys.argv[1]
l = socket.socket()
l.bind(("127.0.0.1", 0))
l.listen(8)
port = l.getsockname()[1]
def serve(c):
    request = b""
    while b"\r\n\r\n" not in request:
        data = c.recv(4096)
        if not data:
            return
        request += data
    if b"GetVersionVexaPro" in request.split(b"\r\n")[0]:
        body = b"99.0.0.0 http://127.0.0.1:%d/releases/Quillon_99.0.0.0.deb" % port
        c.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\nConnection: close\r\n\r\n" % len(body) + body)
        c.close()
        return
    c.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 200000\r\nConnection: close\r\n\r\n" + b"x" * 1000)
    open(base + ".downloading", "w").close()
    threading.Event().wait()  # the rest never comes
with open(base + ".port.tmp", "w") as f:
    f.write(str(port))
os.rename(base + ".port.tmp", base + ".port")
while True:
    c, _ = l.accept()
    threading.Thread(target=serve, args=(c,), daemon=True).start()
PY
  pids+=($!)
  for _ in $(seq 100); do [ -f "$work/update.port" ] && break; sleep 0.05; done
  update_url="http://127.0.0.1:$(cat "$work/update.port")/onlineupdate/GetVersionVexaPro.php"
  start_quillon '"WizardAlreadyRun"=dword:00000001\r\n"AutoStartServer"=dword:00000000\r\n'
  local notify
  notify=$(viewable_window "Auto Update")
  [ -n "$notify" ] || fail "update: the new-version window was not shown"
  sleep 0.3
  "$shot" "$shots/update-notify-screen.png" || fail "update: no screenshot"
  # "Upgrade Now", at the bottom right of the window.
  "$click" "$notify" 299 230 || fail "update: could not click Upgrade Now"
  for _ in $(seq 100); do [ -f "$work/update.downloading" ] && break; sleep 0.05; done
  [ -f "$work/update.downloading" ] || fail "update: Upgrade Now did not start the download"
  sleep 0.3
  stop_quillon "update"
  [ -f "$work/opened" ] && fail "update: the program opened $(cat "$work/opened")"
  grep -q '"ViewLog"=dword:00000001' "$work/config/quillon/registry.reg" || fail "update: view settings were not saved at the end"
  update_url="http://127.0.0.1:1/onlineupdate/GetVersionVexaPro.php"
}

# "MinToTray" on: window and tray icon; off: the tray icon alone.
run_case 1 main-window
run_case 0 tray-only
first_start
update_quit
echo "PASS: tray icon embedded, window shown only when asked and on a click on the icon, first-start wizard, server answered, sent mails listed, clean ends (also during an update download); screenshots in $shots"
