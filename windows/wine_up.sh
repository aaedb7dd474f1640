# Sourced: our own Wine prefix, and its server started before any program whose
# pipes Wine's helpers would otherwise keep open (ctest, a command substitution).
export WINEDEBUG=-all WINEPREFIX=${WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/recmux/wine}
mkdir -p "$WINEPREFIX"
# One that is still up from an earlier run refuses to start again: it serves.
wineserver -p30 2>/dev/null || true
[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
wine cmd /c exit >/dev/null 2>&1 || true
