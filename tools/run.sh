#!/usr/bin/env bash
# Installs what is missing, builds Kavelon, and starts it against the sandbox portal with a
# demo main directory, so the whole cycle of sending and fetching can be tried on one machine.
# Your own settings are not touched: the demo keeps its settings in build/demo/config.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
# The same rule as the program's: exactly one argument, "auto" in any letter case.
unattended=0
if [ $# -eq 1 ] && [ "${1,,}" = auto ]; then unattended=1; fi

echo "Building the demo: kavelon, the page viewer kavelon-browser and the sandbox portal kavelon-portal (the first build takes a few minutes)."
cmake -S . -B build -G Ninja > /dev/null
cmake --build build --target kavelon kavelon-browser kavelon-portal

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
# Address lines 8 to 14: name, contact, street, place, postcode, house number, country; the
# page joins line 10 with 13 ("Dorpsstraat 1") and line 12 with 11 ("1234 AB Dorp").
order() {  # file, reference, customer number, counted lines, present lines
  {
    printf 'ICM\r\n%s\r\n\r\n\r\n%s\r\nBezorgen\r\n001\r\nDemo Bouw B.V.\r\nt.a.v. inkoop\r\nDorpsstraat\r\nDorp\r\n1234 AB\r\n1\r\n\r\nz.s.m.\r\n\r\n\r\n\r\n%s\r\n' \
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
MSG
if [ "$unattended" -eq 0 ]; then
  echo 'Close the window ("Afsluiten") to stop Kavelon and the sandbox portal; rm -rf build/demo starts afresh.'
  XDG_CONFIG_HOME="$demo/config" build/src/app/kavelon "$@"
  exit
fi

status=0
XDG_CONFIG_HOME="$demo/config" build/src/app/kavelon "$@" || status=$?
log=$(ls -t "$main"/logfiles/Log*.txt 2>/dev/null | head -n 1 || true)
echo "log file: ${log:-none}"
case $status in
  0) echo "status 0: the run wrote its log without a red line" ;;
  1) echo "status 1: the log holds at least one red line (a refused order or a failed step)" ;;
  2) echo "status 2: no log could be written" ;;
  *) echo "status $status: Kavelon did not end normally" ;;
esac
exit "$status"
