#!/usr/bin/env bash
# run.sh [PORT]: receives syslog on PORT (default 514) and prints each message's host and text.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
root="${OVS_BUILD:-build}"
arch=$(tools/winearch)
tools/build.sh "$arch"
export OVS_WINEPREFIX="$PWD/$root/$arch/wineprefix" OVS_WINEARCH=win64
[ "$arch" = i686 ] && OVS_WINEARCH=win32
. tools/wine-env.sh
ovs_prefix_up
echo "Listening on UDP port ${1:-514}; try: logger -n 127.0.0.1 -P ${1:-514} --rfc3164 hello"
exec "$OVS_WINELOADER" "$root/$arch/bin/syslogcat.exe" "${1:-514}"
