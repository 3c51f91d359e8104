# Sourced by the tools that run our binaries under Wine. Needs OVS_WINEPREFIX and OVS_WINEARCH
# (win32 or win64); gives ovs_wine, and ovs_prefix_up/ovs_prefix_down for one persistent wineserver.
# Never Wine's default prefix: that is the user's own, and stopping its server would stop theirs.
if [ -z "${OVS_WINEPREFIX:-}" ]; then
  echo "wine-env: OVS_WINEPREFIX is empty; set it to this build's prefix (build/<arch>/wineprefix)" >&2
  return 1 2>/dev/null || exit 1
fi
export WINEPREFIX="$OVS_WINEPREFIX"
export WINEARCH="$OVS_WINEARCH"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

OVS_WINELOADER=$("$(dirname "${BASH_SOURCE[0]}")/wine-loader" "$OVS_WINEARCH") || { return 1 2>/dev/null || exit 1; }
export WINELOADER="$OVS_WINELOADER"

ovs_wine() { "$OVS_WINELOADER" "$@"; }

ovs_prefix_up() {
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.ovs-ready" ]; then
      rm -rf "$WINEPREFIX"
      "$OVS_WINELOADER" wineboot -i >/dev/null 2>&1 || true
      # The first session must end before programs start, or a second services.exe may appear.
      wineserver -w
      [ -d "$WINEPREFIX/drive_c/windows/system32" ] || { echo "wine prefix $WINEPREFIX was not created" >&2; exit 1; }
      touch "$WINEPREFIX/.ovs-ready"
    fi
    # Exits with 2 when this prefix's server already runs.
    if wineserver -p </dev/null >/dev/null 2>&1 9>&-; then
      # Start the session's system processes now, with no terminal or pipe of a test to inherit.
      "$OVS_WINELOADER" cmd /c exit </dev/null >/dev/null 2>&1 9>&- || true
    fi
  ) 9>"$WINEPREFIX.lock"
}

# Runs a Windows program with its output in a file that is copied out when it ends: Wine's system
# processes, started on demand, would otherwise keep a caller's pipe open for ever. With
# OVS_RUN_LIMIT set, a program still running after that many seconds is ended and its output
# shown, which a test runner's own kill would lose along with the file.
ovs_wine_captured() {
  local out rc
  out=$(mktemp)
  if [ -n "${OVS_RUN_LIMIT:-}" ]; then
    timeout -s KILL "$OVS_RUN_LIMIT" "$OVS_WINELOADER" "$@" </dev/null >"$out" 2>&1 && rc=0 || rc=$?
  else
    "$OVS_WINELOADER" "$@" </dev/null >"$out" 2>&1 && rc=0 || rc=$?
  fi
  cat "$out"
  rm -f "$out"
  if [ -n "${OVS_RUN_LIMIT:-}" ] && [ $rc -eq 137 ]; then
    echo "wine-run: $1 was still running after $OVS_RUN_LIMIT s and was ended; its output is above" >&2
  fi
  return $rc
}

# Only a prefix that ovs_prefix_up made: its marker says so.
ovs_prefix_down() {
  [ -f "$WINEPREFIX/.ovs-ready" ] && wineserver -k >/dev/null 2>&1 || true
}
