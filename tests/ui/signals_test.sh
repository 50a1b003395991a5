#!/usr/bin/env bash
# The real program on the offscreen platform ends as the Exit command does on SIGTERM,
# SIGINT and SIGHUP: the server stops, the mail it took (delivery is paused) is in the
# saved waiting index, the view settings are saved, the status is 0. At the first start a
# signal that comes while the configuration wizard is open closes it and ends the program.
# A signal while the version check waits for a server that never answers ends it at once.
# Usage: signals_test.sh QUILLON
set -u
quillon=$1
work=$(mktemp -d /tmp/quillon-signals-XXXXXX)
qpid="" holder=""
# The start-up version check goes to a closed loopback port, never to the update service.
update_url="http://127.0.0.1:1/onlineupdate/GetVersionVexaPro.php"
cleanup() {
  [ -n "$qpid" ] && kill "$qpid" 2>/dev/null && wait "$qpid" 2>/dev/null
  [ -n "$holder" ] && kill "$holder" 2>/dev/null && wait "$holder" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
# Starts the program in fresh folders with the settings key holding the values given as
# printf arguments (format first).
start_program() {
  rm -rf "$work/config" "$work/data" "$work/run"
  mkdir -p "$work/config/quillon" "$work/data" "$work/run"
  chmod 700 "$work/run"
  local format=$1
  shift
  # shellcheck disable=SC2059
  printf "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\\\Software\\\\Nimbrel\\\\Quillon Pro]\r\n$format" "$@" > "$work/config/quillon/registry.reg"
  QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work/run" \
    XDG_CACHE_HOME="$work/cache" QUILLON_UPDATE_URL="$update_url" \
    "$quillon" >"$work/quillon.log" 2>&1 &
  qpid=$!
}
# Sends the signal; the program must end within five seconds, with status 0 and its view
# settings saved.
end_program() {
  local sig=$1 what=$2 rc
  kill -"$sig" "$qpid"
  for _ in $(seq 100); do kill -0 "$qpid" 2>/dev/null || break; sleep 0.05; done
  kill -0 "$qpid" 2>/dev/null && { echo "FAIL: $what: the program did not end"; exit 1; }
  wait "$qpid"
  rc=$?
  qpid=""
  [ "$rc" -eq 0 ] || { echo "FAIL: $what: the program ended with status $rc"; cat "$work/quillon.log"; exit 1; }
  grep -q '"ViewLog"=dword:00000001' "$work/config/quillon/registry.reg" ||
    { echo "FAIL: $what: view settings not saved"; exit 1; }
}
for sig in TERM INT HUP; do
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  start_program '"WizardAlreadyRun"=dword:00000001\r\n"SMTPPort"=dword:%08x\r\n"SMTPMultiIPBind"=dword:00000001\r\n"SMTPMultiIPBinds"="127.0.0.1:%d"\r\n"AutoDetectDNS"=dword:00000000\r\n"DNSPrimary"="127.0.0.1"\r\n"DNSSecondary"="127.0.0.1"\r\n"PauseDelivery"=dword:00000001\r\n' \
    "$port" "$port"
  up=""
  for _ in $(seq 200); do
    python3 -c "import smtplib; smtplib.SMTP('127.0.0.1',$port,timeout=5).sendmail('a@client.test',['b@dest.test'],'Subject: s\r\n\r\nbody\r\n')" 2>/dev/null && { up=1; break; }
    sleep 0.05
  done
  [ -n "$up" ] || { echo "FAIL: the server did not take a mail on $port"; cat "$work/quillon.log"; exit 1; }
  end_program "$sig" "SIG$sig"
  grep -q 'b@dest.test' "$work/data/quillon/data/MailQueu.idx" 2>/dev/null ||
    { echo "FAIL: SIG$sig: the waiting mail is not in the saved index"; exit 1; }
  echo "SIG$sig: clean end, view settings and waiting index saved"
done

start_program '"AutoStartServer"=dword:00000000\r\n'
# The wizard marks itself run as it opens.
for _ in $(seq 200); do
  grep -q '"WizardAlreadyRun"=dword:00000001' "$work/config/quillon/registry.reg" 2>/dev/null && break
  sleep 0.05
done
sleep 0.3
end_program TERM "SIGTERM during the first-start wizard"
echo "SIGTERM during the first-start wizard: clean end"

# An update server that takes the connection and never answers: the check waits for it.
python3 - "$work/holder" <<'PY' &
import os, socket, sys
l = socket.socket()
l.bind(("127.0.0.1", 0))
l.listen(8)
with open(sys.argv[1] + ".port.tmp", "w") as f:
    f.write(str(l.getsockname()[1]))
os.rename(sys.argv[1] + ".port.tmp", sys.argv[1] + ".port")
held = []
while True:
    c, _ = l.accept()
    held.append(c)
    open(sys.argv[1] + ".asked", "w").close()
PY
holder=$!
for _ in $(seq 100); do [ -f "$work/holder.port" ] && break; sleep 0.05; done
update_url="http://127.0.0.1:$(cat "$work/holder.port")/onlineupdate/GetVersionVexaPro.php"
start_program '"WizardAlreadyRun"=dword:00000001\r\n"AutoStartServer"=dword:00000000\r\n'
for _ in $(seq 200); do [ -f "$work/holder.asked" ] && break; sleep 0.05; done
[ -f "$work/holder.asked" ] || { echo "FAIL: the version check did not reach the update server"; cat "$work/quillon.log"; exit 1; }
end_program TERM "SIGTERM during the version check"
echo "SIGTERM during the version check: clean end"
