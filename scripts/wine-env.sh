# Sourced by the scripts that run tobrin.exe under wine: the project's own
# wine prefix (about 700 MB), made once, outside the checkout - in the
# user's cache folder or, without a usable HOME, in the temporary folder -
# and a HOME that wine can write.  Nothing of the caller's tmux session or
# display is passed on.
cache="${XDG_CACHE_HOME:-${HOME:+$HOME/.cache}}"
if [ -z "$cache" ] || ! mkdir -p "$cache" 2>/dev/null || [ ! -w "$cache" ]; then
  cache="${TMPDIR:-/tmp}/tobrin-cache-$(id -u)"
  mkdir -p "$cache"
fi
export WINEPREFIX="${TOBRIN_WINE_PREFIX:-$cache/tobrin-wine}"
if [ -z "${HOME:-}" ] || [ ! -d "$HOME" ] || [ ! -w "$HOME" ]; then export HOME="$cache"; fi
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset TMUX TMUX_PANE DISPLAY WAYLAND_DISPLAY
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "=== windows: creating the wine prefix in $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  timeout 300 wineboot -i </dev/null >/dev/null 2>&1
fi
