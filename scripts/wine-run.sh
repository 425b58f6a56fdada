#!/bin/sh
# Runs a Windows x64 program under wine64 in a wine prefix of the build's own.
#   wine-run.sh PREFIX-DIR PROGRAM [ARGUMENTS...]
# The prefix is made on first use (this takes seconds), under a lock so that
# tests started in parallel make it once. Only the 64-bit loader is used: the
# 32-bit one is not installed on purpose.
set -u

if [ $# -lt 2 ]; then
    echo "usage: wine-run.sh PREFIX-DIR PROGRAM [ARGUMENTS...]" >&2
    exit 125
fi
prefix=$1
shift

wine64=
for candidate in "${VELMORA_WINE64:-}" /usr/lib/wine/wine64 "$(command -v wine64 2>/dev/null)"; do
    if [ -n "$candidate" ] && [ -x "$candidate" ]; then
        wine64=$candidate
        break
    fi
done
if [ -z "$wine64" ]; then
    echo "wine-run.sh: wine64 not found (Debian package wine64)" >&2
    exit 125
fi

export WINEPREFIX="$prefix"
export WINEDEBUG=-all
# No Mono or Gecko installer prompts: the programs need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINELOADER="$wine64"
# Keep the test runs off any display.
unset DISPLAY WAYLAND_DISPLAY

mkdir -p "$(dirname "$prefix")" || exit 125
if [ ! -f "$prefix/.velmora-ready" ]; then
    (
        flock 9 || exit 125
        if [ ! -f "$prefix/.velmora-ready" ]; then
            "$wine64" wineboot -i >/dev/null 2>&1
            # wineboot returns before the registry is written out.
            wineserver_bin=$(dirname "$wine64")/wineserver
            [ -x "$wineserver_bin" ] || wineserver_bin=wineserver
            "$wineserver_bin" -w
            if [ ! -f "$prefix/system.reg" ]; then
                echo "wine-run.sh: could not make the wine prefix $prefix" >&2
                exit 125
            fi
            : > "$prefix/.velmora-ready"
        fi
    ) 9> "$prefix.lock" || exit 125
fi

exec "$wine64" "$@"
