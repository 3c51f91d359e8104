# Sourced from the repository's root by the benchmarks that drive the installed service: the tree
# built for the architecture that runs here ($OVS_BUILD, default build/), its own Wine prefix, and
# the script tests' Python modules.
root="${OVS_BUILD:-build}"
case "$root" in /*) ;; *) root="$PWD/$root" ;; esac  # relative to the repository, or absolute
arch=$(tools/winearch)
tree="$root/$arch"
export OVS_WINEPREFIX="$tree/wineprefix" OVS_WINEARCH=win64 OVS_BIN="$tree/bin" OVS_TOOLS="$PWD/tools"
[ "$arch" = i686 ] && OVS_WINEARCH=win32
export PYTHONPATH="$PWD/tools/python" PYTHONDONTWRITEBYTECODE=1
