#!/bin/sh
# Demo installer of the Krevol PC suite package 4.3.1 for Linux (the suite starts it with /bin/sh,
# detached). It installs nothing: it shows that the suite found and started it, and leaves a note
# next to itself and in the temporary folder.
note="Krevol PC Suite 4.3.1 demo installer (setup.sh) ran from $(dirname "$0") at $(date)"
echo "$note"
echo "$note" > "$(dirname "$0")/installer-ran.txt"
echo "$note" > "${TMPDIR:-/tmp}/krevol-demo-installer-ran.txt"
exit 0
