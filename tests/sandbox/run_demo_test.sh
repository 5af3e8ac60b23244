#!/usr/bin/env bash
# scripts/run-demo with a stand-in for the suite: the sandbox is seeded and started, the suite gets
# KREVOL_API_HOST and KREVOL_VOLUMES, the demo account signs in, the sandbox still answers after the
# suite restarted itself in place (as it does after a language change), the suite's exit code comes
# back, and the sandbox is gone afterwards.
# Usage: run_demo_test.sh <repository root> <build folder>
set -euo pipefail
root="$1"
build="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

cat >"$work/suite" <<'SUITE'
#!/bin/sh
set -e
echo "$KREVOL_API_HOST" >"$KREVOL_DEMO_DATA/seen-host"
test -f "$KREVOL_VOLUMES/KREVOL-SD/DEVINFO.INI"
test -d "$KREVOL_VOLUMES/KREVOL-SD/obdtool/sys"
curl -sf --noproxy '*' --data-binary '{"data":{"username":"demo@krevol.test","password":"demo-pass-1"}}' \
  "http://$KREVOL_API_HOST/krevol-manager-api/user/login" >>"$KREVOL_DEMO_DATA/login-answer"
echo >>"$KREVOL_DEMO_DATA/login-answer"
# The first run restarts in place, in the same process, like the suite after a language change.
if [ -z "${STANDIN_RESTARTED:-}" ]; then
  export STANDIN_RESTARTED=1
  exec "$0"
fi
exit 7
SUITE
chmod +x "$work/suite"

status=0
output="$(KREVOL_DEMO_DATA="$work/data" KREVOL_DEMO_BUILD="$build" KREVOL_DEMO_SUITE="$work/suite" \
  QT_QPA_PLATFORM=offscreen bash "$root/scripts/run-demo" 2>&1)" || status=$?
fail() { echo "FAIL: $*"; echo "$output"; exit 1; }

[ "$status" -eq 7 ] || fail "exit code $status, expected the suite's 7"
grep -q "demo@krevol.test" <<<"$output" || fail "the demo e-mail was not printed"
grep -q "demo-pass-1" <<<"$output" || fail "the demo password was not printed"
[ "$(grep -c '"statuscode":200,' "$work/data/login-answer")" -eq 2 ] ||
  fail "the demo account did not sign in before and after the restart"
host="$(cat "$work/data/seen-host")"
[[ "$host" =~ ^127\.0\.0\.1:[0-9]+$ ]] || fail "KREVOL_API_HOST was '$host'"
if curl -s --noproxy '*' -m 2 -o /dev/null "http://$host/admin/health"; then
  fail "the sandbox still answers after the suite ended"
fi
echo "run-demo: ok"
