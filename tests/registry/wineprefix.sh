#!/bin/sh
# The throw-away wine prefix of the registry tests, in $WINEPREFIX:
# "setup" makes a fresh one, "cleanup" stops its wine server and removes it.
set -eu
case "$1" in
  setup)
    rm -rf "$WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    # Output off the test's pipe: wine's helpers may outlive this script.
    wineboot -i >/dev/null 2>&1 </dev/null
    wineserver -w
    test -f "$WINEPREFIX/user.reg"
    echo "wine prefix ready: $WINEPREFIX"
    ;;
  cleanup)
    wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
    ;;
esac
