#!/usr/bin/env bash
# A build that a package can be made from carries the maker's public key of PC suite packages:
# configuring the project without one (the release preset without KREVOL_SUITE_PUBLIC_KEY in the
# environment, a plain configure) fails at once with a message naming the key and the development
# switch; a key that is no key fails too. The rule itself (cmake/SuiteKey.cmake run as a script):
# a hex or base64 key passes, an empty key passes only with KREVOL_DEV_UNSIGNED_SUITE=ON.
# Usage: suite_key_test.sh <cmake> <source folder>
set -euo pipefail
cmake="$1"
source="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
hex="a10196231ce87e90fbb937dfd544fc81c23c1eb9aa72594f2eafa800da6dd033"
base64="oQGWIxzofpD7uTff1UT8gcI8HrmqcllPLq+oANpt0DM="

# --- Configuring the project: refused before anything is built ---
# name | environment key ("-" for none) | extra arguments | text the error must hold
configure_cases=(
  "release preset, no key|-|--preset release|KREVOL_SUITE_PUBLIC_KEY is empty"
  "release preset, empty key|   |--preset release|KREVOL_SUITE_PUBLIC_KEY is empty"
  "release preset, not a key|not-a-key|--preset release|is not a public key"
  "plain configure, no key|-|-G Ninja|KREVOL_SUITE_PUBLIC_KEY is empty"
  "plain configure, key one digit short|-|-G Ninja -DKREVOL_SUITE_PUBLIC_KEY=${hex:1}|is not a public key"
)
n=0
for c in "${configure_cases[@]}"; do
  IFS='|' read -r name key args expect <<<"$c"
  n=$((n + 1))
  tree="$work/tree$n"
  read -r -a extra <<<"$args"
  set +e
  if [ "$key" = "-" ]; then
    (cd "$source" && env -u KREVOL_SUITE_PUBLIC_KEY "$cmake" -S "$source" -B "$tree" "${extra[@]}") \
      >"$work/out$n" 2>&1
  else
    (cd "$source" && KREVOL_SUITE_PUBLIC_KEY="$key" "$cmake" -S "$source" -B "$tree" "${extra[@]}") \
      >"$work/out$n" 2>&1
  fi
  status=$?
  set -e
  [ "$status" -ne 0 ] || { cat "$work/out$n"; fail "$name: the configuration succeeded"; }
  grep -q "$expect" "$work/out$n" || { cat "$work/out$n"; fail "$name: no \"$expect\" in the error"; }
  if [ "$expect" = "KREVOL_SUITE_PUBLIC_KEY is empty" ]; then
    grep -q "KREVOL_DEV_UNSIGNED_SUITE=ON" "$work/out$n" ||
      { cat "$work/out$n"; fail "$name: the error does not name the development switch"; }
  fi
  # Refused before project(): no compiler was looked for.
  if grep -q "The CXX compiler identification" "$work/out$n"; then
    cat "$work/out$n"
    fail "$name: refused only after the compiler checks"
  fi
done

# --- The rule ---
# name | -D arguments | 0 passes, 1 refused
rule_cases=(
  "hex key|-DKREVOL_SUITE_PUBLIC_KEY=$hex|0"
  "base64 key|-DKREVOL_SUITE_PUBLIC_KEY=$base64|0"
  "base64 key without padding|-DKREVOL_SUITE_PUBLIC_KEY=${base64%=}|0"
  "empty key|-DKREVOL_SUITE_PUBLIC_KEY=|1"
  "empty key, development switch|-DKREVOL_SUITE_PUBLIC_KEY= -DKREVOL_DEV_UNSIGNED_SUITE=ON|0"
  "bad key, development switch|-DKREVOL_SUITE_PUBLIC_KEY=xyz -DKREVOL_DEV_UNSIGNED_SUITE=ON|1"
  "hex with a stray letter|-DKREVOL_SUITE_PUBLIC_KEY=${hex:1}g|1"
)
for c in "${rule_cases[@]}"; do
  IFS='|' read -r name args want <<<"$c"
  read -r -a defines <<<"$args"
  set +e
  "$cmake" "${defines[@]}" -P "$source/cmake/SuiteKey.cmake" >"$work/rule" 2>&1
  status=$?
  set -e
  got=$([ "$status" -eq 0 ] && echo 0 || echo 1)
  [ "$got" = "$want" ] || { cat "$work/rule"; fail "$name: expected $want, got status $status"; }
done
echo "ok: ${#configure_cases[@]} configurations refused, ${#rule_cases[@]} rule cases"
