#!/usr/bin/env bash
# Builds the Debian package from a build tree with cpack (into a temporary folder; cpack leaves
# only its install_manifest.txt in the build tree), unpacks it with dpkg-deb -x into a temporary root and checks:
# the exact file list, the links in usr/bin, the declared dependencies (every library the programs
# link comes from a package named in Depends), the .desktop entry (desktop-file-validate) and its
# icon, uninstall.sh (what it runs, started by the unpacked program's "Uninstall" mode), krevolctl
# --help, and a headless run of the unpacked suite by a user who may not write into its folder:
# it keeps running with its window, its working folders go to the user's cache folder, and SIGTERM
# ends it.
# Usage: package_test.sh <cpack> <build folder> <version>
set -euo pipefail
cpack="$1"
build="$2"
version="$3"
package=krevol-pc-suite
work="$(mktemp -d)"
program_pid=""
cleanup() {
  [ -n "$program_pid" ] && kill -KILL "$program_pid" 2>/dev/null
  chmod -R u+w "$work" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# --- Build the package ---
"$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack failed"; }
debs=("$work"/out/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one .deb, got: ${debs[*]}"
deb="${debs[0]}"
arch="$(dpkg --print-architecture)"
[ "$(basename "$deb")" = "${package}_${version}_${arch}.deb" ] || fail "package file named $(basename "$deb")"

# --- Control fields ---
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = "$package" ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
depends="$(field Depends)"
recommends="$(field Recommends)"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
dep_names=" $(tr ',|' '\n\n' <<<"$depends" | sed -e 's/(.*)//' -e 's/:.*//' | tr -d ' ' | tr '\n' ' ')"
for needed in qt6-qpa-plugins libqt6widgets6 libqt6gui6 libqt6core6 libcurl4 libminizip1 libstdc++6 libc6; do
  [[ "$dep_names" == *" $needed "* ]] || fail "Depends lacks $needed: $depends"
done
[[ "$recommends" == *fonts-wqy-microhei* ]] || fail "Recommends lacks fonts-wqy-microhei: $recommends"

# --- Files ---
root="$work/root"
dpkg-deb -x "$deb" "$root"
dir=usr/lib/$package
expected="./$dir/KrevolRegist
./$dir/krevolctl
./$dir/uninstall.sh
./usr/bin/$package -> ../lib/$package/KrevolRegist
./usr/bin/krevolctl -> ../lib/$package/krevolctl
./usr/share/applications/$package.desktop
./usr/share/doc/$package/LICENSE-LiberationSans.txt
./usr/share/doc/$package/copyright
./usr/share/icons/hicolor/64x64/apps/$package.png"
actual="$(cd "$root" && find . ! -type d | sort | while read -r f; do
  if [ -L "$f" ]; then echo "$f -> $(readlink "$f")"; else echo "$f"; fi
done)"
[ "$actual" = "$(sort <<<"$expected")" ] || fail "files in the package:
$actual
expected:
$expected"
for program in KrevolRegist krevolctl; do
  [ -x "$root/$dir/$program" ] || fail "$program is not executable"
  if readelf -S "$root/$dir/$program" | grep '\.debug_info' >/dev/null; then fail "$program is not stripped"; fi
done
grep -q "SIL Open Font License" "$root/usr/share/doc/$package/LICENSE-LiberationSans.txt" ||
  fail "the font licence is missing its text"

# Every shared library the programs link is provided by a package named in Depends.
for program in KrevolRegist krevolctl; do
  for lib in $(readelf -d "$root/$dir/$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
    # awk reads to the end: leaving early would end ldconfig with SIGPIPE, a failure under pipefail.
    path="$(ldconfig -p | awk -v l="$lib" '$1 == l && !found { print $NF; found = 1 }')"
    [ -n "$path" ] || fail "$program links $lib, which is not installed here"
    owner="$(dpkg -S "$(readlink -f "$path")" 2>/dev/null || dpkg -S "$path" 2>/dev/null)" ||
      fail "no package owns $path"
    owner="${owner%%:*}"
    [[ "$dep_names" == *" $owner "* ]] || fail "$program links $lib from $owner, not in Depends: $depends"
  done
done

# --- The .desktop entry and its icon ---
desktop="$root/usr/share/applications/$package.desktop"
desktop-file-validate "$desktop" || fail "desktop-file-validate refused the entry"
entry() { sed -n "s/^$1=//p" "$desktop"; }
[ "$(entry Type)" = "Application" ] || fail "Type=$(entry Type)"
[ -x "$root/usr/bin/$(entry Exec)" ] || fail "Exec=$(entry Exec) is not a program in usr/bin"
[ "$(entry Icon)" = "$package" ] || fail "Icon=$(entry Icon)"
# A PNG of 64 x 64 pixels: the signature, then the IHDR width and height.
icon="$root/usr/share/icons/hicolor/64x64/apps/$package.png"
[ "$(od -An -tx1 -N8 "$icon" | tr -d ' \n')" = "89504e470d0a1a0a" ] || fail "the icon is not a PNG"
[ "$(od -An -tu1 -j16 -N8 "$icon" | tr -s ' ')" = " 0 0 0 64 0 0 0 64" ] || fail "the icon is not 64 x 64"

# --- krevolctl from the package ---
help="$("$root/usr/bin/krevolctl" --help 2>&1)" || fail "krevolctl --help failed: $help"
grep -q "krevolctl" <<<"$help" || fail "krevolctl --help printed: $help"

# --- uninstall.sh ---
# Stand-ins for the system's commands on a PATH that holds nothing else, so that nothing real is
# removed: each records how it was called.
stubs="$work/stubs"
mkdir -p "$stubs"
for cmd in pkexec apt-get; do
  printf '#!/bin/sh\necho "%s $*" >>"%s/ran"\n' "$cmd" "$work" >"$stubs/$cmd"
done
cat >"$stubs/dpkg-query" <<STUB
#!/bin/sh
[ -f "$work/owned" ] || exit 1
echo "$package: \$2"
STUB
printf '#!/bin/sh\nread -r uid <"%s/uid"\necho "$uid"\n' "$work" >"$stubs/id"  # only builtins here
chmod +x "$stubs"/*
# Runs uninstall.sh with the stand-ins; prints what ran; $1: owned or not, $2: the user id, $3: with pkexec.
run_uninstall() {
  rm -f "$work/ran" "$work/owned"
  [ "$1" = owned ] && touch "$work/owned"
  echo "$2" >"$work/uid"
  [ "$3" = pkexec ] && chmod +x "$stubs/pkexec" || chmod -x "$stubs/pkexec"
  local status=0
  PATH="$stubs" /bin/sh "$root/$dir/uninstall.sh" 2>"$work/uninstall.err" || status=$?
  echo "status=$status ran=$(cat "$work/ran" 2>/dev/null)"
}
while IFS='|' read -r owned uid pk want; do
  got="$(run_uninstall "$owned" "$uid" "$pk")"
  [ "$got" = "$want" ] || fail "uninstall.sh ($owned, uid $uid, $pk): $got, expected $want"
done <<CASES
owned|1000|pkexec|status=0 ran=pkexec apt-get remove -y $package
owned|0|pkexec|status=0 ran=apt-get remove -y $package
owned|1000|none|status=1 ran=
not-owned|1000|pkexec|status=1 ran=
not-owned|0|pkexec|status=1 ran=
CASES
run_uninstall owned 1000 none >/dev/null
grep -q "sudo apt-get remove $package" "$work/uninstall.err" || fail "no advice without pkexec: $(cat "$work/uninstall.err")"

# The unpacked suite's "Uninstall" mode starts that script (detached), with the same stand-ins.
rm -f "$work/ran"
touch "$work/owned"
echo 1000 >"$work/uid"
chmod +x "$stubs/pkexec"
PATH="$stubs" QT_QPA_PLATFORM=offscreen "$root/usr/bin/$package" Uninstall >/dev/null 2>&1 ||
  fail "the Uninstall mode failed"
for _ in $(seq 100); do [ -s "$work/ran" ] && break; sleep 0.1; done
[ "$(cat "$work/ran" 2>/dev/null)" = "pkexec apt-get remove -y $package" ] ||
  fail "the Uninstall mode ran: $(cat "$work/ran" 2>/dev/null)"

# --- The suite from the package, run by a user who may not write into its folder ---
chmod 755 "$work"
if [ "$(id -u)" -eq 0 ]; then
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)  # nobody
else
  as_user=()
  chmod -R a-w "$root/$dir"
fi
mkdir -p "$work/home" "$work/runtime"
chmod 700 "$work/runtime"
if [ "$(id -u)" -eq 0 ]; then chown 65534:65534 "$work/home" "$work/runtime"; fi
before="$(ls -A "$root/$dir")"
env -i PATH=/usr/bin:/bin HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=offscreen \
  KREVOL_API_HOST=127.0.0.1:9 "${as_user[@]}" "$root/usr/bin/$package" >"$work/program.log" 2>&1 &
program_pid=$!
for _ in $(seq 200); do
  [ -e "$work/runtime/KrevolRegist.lock" ] && break
  kill -0 "$program_pid" 2>/dev/null || break
  sleep 0.1
done
[ -e "$work/runtime/KrevolRegist.lock" ] || fail "the suite did not start: $(cat "$work/program.log")"
sleep 2
kill -0 "$program_pid" 2>/dev/null || fail "the suite ended by itself: $(cat "$work/program.log")"
# Its working folders live in the user's cache folder, and nothing was written beside the program.
[ -d "$work/home/.cache/$package" ] || fail "no working folder in the user's cache folder"
[ "$(ls -A "$root/$dir")" = "$before" ] || fail "the suite wrote into its folder: $(ls -A "$root/$dir")"
kill -TERM "$program_pid"
for _ in $(seq 100); do kill -0 "$program_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$program_pid" 2>/dev/null && fail "the suite did not end on SIGTERM"
program_pid=""
echo "package: ok ($(basename "$deb"), $(stat -c %s "$deb") bytes)"
