#!/usr/bin/env bash
# Installs what is missing, builds Kavelon, and starts it against the sandbox portal with a
# demo main directory, so the whole cycle of sending and fetching can be tried on one machine.
# Your own settings are not touched: the demo keeps its settings in build/demo/config.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake -S . -B build -G Ninja
cmake --build build

demo="$PWD/build/demo"
main="$demo/rilvost"
mkdir -p "$main/icm" "$demo/config/Kavelon" "$demo/portal"

# The sandbox portal on a port of its own; it stops with this script (or after an idle hour).
coproc PORTAL { exec build/tools/kavelon-portal/kavelon-portal --port 0 --state "$demo/portal" --idle-exit-ms 3600000; }
trap 'kill "$PORTAL_PID" 2>/dev/null || true' EXIT
for _ in 1 2 3; do
  IFS= read -r line <&"${PORTAL[0]}"
  export "${line?}"
done

# A few orders: one the portal accepts, one for an unknown customer number, one it refuses.
order() {  # file, reference, customer number, counted lines, present lines
  {
    printf 'ICM\r\n%s\r\n\r\n\r\n%s\r\nBezorgen\r\n001\r\nDemo Bouw B.V.\r\nDorpsstraat 1\r\n1234\r\nAB\r\nDorp\r\n\r\n\r\nz.s.m.\r\n\r\n\r\n\r\n%s\r\n' \
      "$2" "$3" "$4"
    for i in $(seq 1 "$5"); do printf '%s\r\nART-%s\r\nKraan %s\r\n12.50\r\n' "$i" "$i" "$i"; done
  } > "$main/icm/$1"
}
[ -n "$(ls -A "$main/icm")" ] || {
  order "bestelling 1.icm" "Week 49" 100200 2 2
  order "onbekende klant.icm" "Proef" 999999 1 1
  order "geweigerd.icm" "Telt niet" 100200 3 2
}

# The demo accounts, in the account file beside the program.
accounts="$PWD/build/src/app/Kavelon.kvd"
[ -e "$accounts" ] || { (umask 077; sqlite3 "$accounts" "CREATE TABLE Debiteur (DebiteurenNummer TEXT NOT NULL COLLATE NOCASE UNIQUE, Gebruiker TEXT NOT NULL COLLATE NOCASE, Wachtwoord TEXT NOT NULL);"); }
sqlite3 "$accounts" "INSERT OR IGNORE INTO Debiteur VALUES ('100-200', 'demo', 'demo'); INSERT OR IGNORE INTO Debiteur VALUES ('300400', 'winkel', 'p&ss+w0rd');"

conf="$demo/config/Kavelon/Kavelon.conf"
[ -e "$conf" ] || printf '[Local]\nDirectory=%s\nOnlineCheck=0\n' "$main" > "$conf"

cat <<MSG
Kavelon runs against the sandbox portal at $KAVELON_PORTAL_URL.
  main directory: $main   (orders in icm/, sent ones in verzonden/, confirmations in icb/)
  settings:       $conf
  accounts:       $accounts   (100-200 / demo, 300400 / winkel)
  portal state:   $demo/portal  (requests.log holds every request the portal received)
Close the window ("Afsluiten") to stop Kavelon and the sandbox portal; rm -rf build/demo starts afresh.
MSG
XDG_CONFIG_HOME="$demo/config" build/src/app/kavelon "$@"
