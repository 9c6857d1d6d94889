#!/usr/bin/env bash
# Runs programs of a Windows build folder under Wine in a Wine prefix of the
# folder's own (<build>/wine), never the user's.
#
#   scripts/wine-session.sh start <build>   creates the prefix when missing and
#                                           starts its server
#   scripts/wine-session.sh stop <build>    ends the server and what it runs
#
# Wine's server, started by the first Windows program, inherits that
# program's output and keeps it open a few seconds after every program; so
# do the services the first program starts. Started here with their output
# sent to /dev/null, they keep no caller's pipe waiting.
set -euo pipefail
action=${1:?start or stop}
build=$(cd "${2:?build folder}" && pwd)
export WINEPREFIX=$build/wine WINEDEBUG=-all
case $action in
  start)
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      wineboot -i >/dev/null 2>&1 </dev/null
      wineserver -w
    fi
    wineserver -k 2>/dev/null || true
    setsid wineserver -p >/dev/null 2>&1 </dev/null &
    # The first program starts the services; it is given nothing to hold.
    wine cmd /c exit >/dev/null 2>&1 </dev/null
    ;;
  stop)
    wineserver -k 2>/dev/null || true
    ;;
  *)
    echo "usage: $0 start|stop <build>" >&2
    exit 2
    ;;
esac
