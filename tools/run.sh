#!/usr/bin/env bash
# run.sh [PORT]: builds, installs and starts the service "OVSyslog" in this tree's Wine prefix with
# the suite's stand-ins, then prints every forwarded event as it reaches the outbox, until Ctrl-C;
# then stops the service. Try from another terminal: logger -n 127.0.0.1 -P 514 --rfc3164 "link down"
set -euo pipefail
cd "$(dirname "$0")/.."
port="${1:-514}"
tools/setup.sh
root="${OVS_BUILD:-build}"
case "$root" in /*) ;; *) root="$PWD/$root" ;; esac  # relative to the repository, or absolute
arch=$(tools/winearch)
tools/build.sh "$arch"
export OVS_WINEPREFIX="$root/$arch/wineprefix" OVS_WINEARCH=win64
[ "$arch" = i686 ] && OVS_WINEARCH=win32
. tools/wine-env.sh
ovs_prefix_up

bin="$root/$arch/bin"
outbox="$root/$arch/outbox"
mkdir -p "$outbox"
rm -f "$outbox"/*.evt "$outbox"/calls.log
key='HKLM\Software\Telmora\Orvane'
quiet() { ovs_wine_captured "$@" >/dev/null || true; }

# As the suite's installer leaves the machine: its keys, its components registered, the
# communication library beside the program (it is in bin/).
quiet reg delete "$key\\StandIn" /f
quiet reg add "$key\\OVSyslog" /v AuthPort /t REG_SZ /d "$port" /f
quiet reg add "$key\\OVTrap" /v AuthPort /t REG_SZ /d 162 /f
quiet reg add "$key\\StandIn\\Comm" /v OutboxDir /t REG_SZ /d "Z:${outbox//\//\\}" /f
quiet regsvr32 /s "$bin/OrvaneComponents.dll"

# The host caps the socket's receive buffer at net.core.rmem_max: grant what the service asks for.
stored=$(ovs_wine_captured reg query "$key\\OVSyslog" /v RecvBufferSize 2>/dev/null | tr -d '\r' |
         sed -n 's/^ *RecvBufferSize *REG_DWORD *0x\([0-9a-fA-F]\{1,8\}\)$/\1/p') || true
tools/grant-rcvbuf "${stored:+$((16#$stored))}"

ovs_wine_captured "$bin/OVSyslogSvc.exe" -i
ovs_wine_captured sc start OVSyslog >/dev/null || true
state() { ovs_wine_captured "$bin/svcctl.exe" OVSyslog query 2>/dev/null | tr -d '\r'; }
for _ in $(seq 100); do [ "$(state)" = "state 4" ] && break; sleep 0.1; done
[ "$(state)" = "state 4" ] || { echo "the service did not start: $(state)" >&2; exit 1; }

stop_service() {
  ovs_wine_captured sc stop OVSyslog >/dev/null || true
  for _ in $(seq 100); do [ "$(state)" = "state 1" ] && break; sleep 0.1; done
  echo "service OVSyslog: $(state | sed 's/state 1/stopped/')"
}
trap stop_service EXIT
trap 'exit 0' INT TERM
echo "OVSyslog runs on UDP port $port; each forwarded event follows (Ctrl-C ends)."
echo "Try: logger -n 127.0.0.1 -P $port --rfc3164 \"link down\""
python3 suite/evtdump.py --follow "$outbox"
