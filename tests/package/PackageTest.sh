#!/usr/bin/env bash
# The Debian package of a finished build, tried as a user would meet it: cpack makes it,
# lintian checks it, dpkg installs it into a throwaway root, the installed programs run from
# there with a fresh home (pellora-cli picks a message; pellora shows its strip on a virtual
# screen), and dpkg removes it again, leaving nothing behind.
#
# The throwaway root is a folder that dpkg treats as a system of its own (--root), started with
# a copy of this machine's package database, so the package's dependencies are checked against
# what is really installed here. It holds a shell and ldconfig, so dpkg runs the package's
# maintainer scripts in it (chrooted) as on a real system. The installed programs run from the
# root's /usr/bin and load this machine's libraries.
#
# Usage: PackageTest.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(realpath "$1")
source=$(realpath "$2")

for tool in cpack dpkg dpkg-deb lintian readelf xdotool import; do
  command -v "$tool" >/dev/null ||
    { echo "PackageTest: $tool is missing (scripts/ensure-packages test)" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/pellora-package.XXXXXX")
root="$work/root"
cleanup() { rm -rf "$work"; }
trap cleanup EXIT

step() { echo "== $* (at ${SECONDS}s)"; }
fail() { echo "FAIL: $*" >&2; exit 1; }
# Runs a command with a time limit, showing its output only when it fails.
quiet() { # seconds log command...
  local seconds=$1 log=$2
  shift 2
  timeout "$seconds" "$@" >"$log" 2>&1 || { sed 's/^/  /' "$log" >&2; fail "$* (see above)"; }
}

step "cpack makes the package"
quiet 300 "$work/cpack.log" cpack --config "$build/CPackConfig.cmake" -B "$work/out"
debs=("$work"/out/pellora_*.deb)
[ -f "${debs[0]}" ] || fail "cpack made no pellora_*.deb in $work/out"
deb=${debs[0]}
dpkg-deb --field "$deb" Package Version Architecture Depends Homepage

step "every library a program links comes from a package it depends on"
depends=" $(dpkg-deb --field "$deb" Depends | sed 's/([^)]*)//g; s/[,|]/ /g') "
mkdir "$work/contents"
dpkg-deb --extract "$deb" "$work/contents"
# soname<TAB>file that needs it, for every ELF file of the package.
while IFS= read -r -d '' file; do
  head -c 4 "$file" | grep -q 'ELF' || continue
  readelf --dynamic "$file" | sed -n "s|.*Shared library: \[\(.*\)\]|\1\t${file#"$work/contents"}|p"
done < <(find "$work/contents" -type f -perm -u+x -print0) | sort -u >"$work/needed"
/sbin/ldconfig -p >"$work/ldcache"
missing=0
while IFS=$'\t' read -r soname users; do
  path=$(awk -v n="$soname" '$1 == n && /x86-64/ { print $NF; exit }' "$work/ldcache")
  [ -n "$path" ] || { echo "  $soname (needed by $users) is not on this machine"; missing=1; continue; }
  # The package database knows a library by the path it was packed at, before or after the
  # merge of /lib into /usr/lib.
  owner=$(dpkg -S "$path" 2>/dev/null || dpkg -S "$(realpath "$path")" 2>/dev/null ||
    dpkg -S "${path#/usr}" 2>/dev/null) ||
    { echo "  no package owns $path (needed by $users)"; missing=1; continue; }
  owner=${owner%%:*}
  if [[ $depends != *" $owner "* ]]; then
    echo "  $soname (needed by $users) comes from $owner, which Depends does not name"
    missing=1
  fi
done < <(awk -F '\t' '{ users[$1] = users[$1] (users[$1] ? ", " : "") $2 } END { for (s in users) print s "\t" users[s] }' "$work/needed")
[ "$missing" = 0 ] || fail "the package's dependencies miss libraries it links"

step "lintian finds no errors"
# The output stays in the log, warnings included.
timeout 300 lintian --fail-on error "$deb" | tee "$work/lintian.log" ||
  fail "lintian reports errors on $(basename "$deb")"

step "dpkg installs it into a throwaway root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/etc" "$root/usr/bin" \
  "$root/usr/sbin" "$root/usr/lib" "$root/usr/lib64"
for link in bin sbin lib lib64; do ln -s "usr/$link" "$root/$link"; done
cp /var/lib/dpkg/status "$root/var/lib/dpkg/status"
touch "$root/var/lib/dpkg/available"
# The maintainer scripts' shell with the libraries it loads, and ldconfig (linked statically).
shell=$(realpath /bin/sh)
cp "$shell" "$root/usr/bin/"
ln -s "$(basename "$shell")" "$root/usr/bin/sh"
for library in $(ldd "$shell" | grep -o '/[^ ]*'); do
  mkdir -p "$root/usr$(dirname "${library#/usr}")"
  cp "$(realpath "$library")" "$root/usr${library#/usr}"
done
cp "$(realpath /sbin/ldconfig)" "$root/usr/sbin/ldconfig"
find "$root" | sort >"$work/before"
quiet 120 "$work/install.log" dpkg --root="$root" --install "$deb"
[ -x "$root/usr/bin/pellora" ] || fail "no /usr/bin/pellora in the root after the install"

# A fresh user: an empty home and XDG folders of its own.
user_env() { # home
  echo HOME="$1" XDG_DATA_HOME="$1/.local/share" XDG_CONFIG_HOME="$1/.config" \
    XDG_CACHE_HOME="$1/.cache" XDG_STATE_HOME="$1/.local/state" PATH=/usr/bin:/bin LANG=C.UTF-8
}
sanitizer_env() {
  local name
  for name in ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS; do
    [ -n "${!name:-}" ] && echo "$name=${!name}"
  done
  return 0
}

step "the installed pellora-cli picks a message in a fresh home"
home="$work/cli-home"
mkdir -p "$home"
# shellcheck disable=SC2046
picked=$(timeout 60 env -i $(user_env "$home") $(sanitizer_env) "$root/usr/bin/pellora-cli" pick) ||
  fail "pellora-cli pick failed"
[ -n "$picked" ] || fail "pellora-cli pick printed nothing"
echo "  picked: $picked"
# It found its installation folder: the first run copied the shipped libraries from there.
[ -n "$(find "$home/.local/share/Harbrook/Pellora 3/Local" -iname messages.cfg -print -quit)" ] ||
  fail "no library was copied from $root/usr/share/pellora into the data folder"

step "the installed pellora shows its strip in the shipped skin on a virtual screen"
caption=$(awk '/^\.caption[ {]/ { inside = 1 } inside && /background-color/ { gsub(/[;[:space:]]/, ""); split($0, a, ":"); print toupper(a[2]); exit }' \
  "$root/usr/share/pellora/Skins/Harbrook/pellora.css")
[[ $caption == \#?????? ]] || fail "cannot read the caption colour of the installed Harbrook skin"
export PACKAGE_ROOT="$root" PACKAGE_WORK="$work" CAPTION="$caption"
export PACKAGE_ENV="$(user_env "$work/gui-home") $(sanitizer_env)"
mkdir -p "$work/gui-home"
timeout 120 "$source/tests/support/with-x11" bash -c '
  set -u
  # shellcheck disable=SC2086
  env -i DISPLAY="$DISPLAY" XDG_RUNTIME_DIR="$XDG_RUNTIME_DIR" QT_QPA_PLATFORM=xcb $PACKAGE_ENV \
    "$PACKAGE_ROOT/usr/bin/pellora" >"$PACKAGE_WORK/pellora.log" 2>&1 &
  pid=$!
  # The strip is the window named Pellora that stays on top (a message box may share its name).
  on_top() { xprop -id "$1" _NET_WM_STATE 2>/dev/null | grep -q _NET_WM_STATE_ABOVE; }
  strip=""
  for ((i = 0; i < 600; i++)); do
    for w in $(xdotool search --all --onlyvisible --pid "$pid" --name "^Pellora\$" 2>/dev/null); do
      on_top "$w" && strip=$w && break
    done
    [ -n "$strip" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  status=1
  if [ -n "$strip" ]; then
    eval "$(xdotool getwindowgeometry --shell "$strip")"
    echo "  strip at ($X, $Y), $WIDTH x $HEIGHT"
    # The caption bar, right of its icon, in the installed skin'"'"'s colour: the program found
    # its skins beside it.
    for ((i = 0; i < 100; i++)); do
      pixel=$(import -window root -crop "1x1+$((X + 30))+$((Y + 3))" -depth 8 txt:- 2>/dev/null |
        grep -o "#[0-9A-F]\{6\}" | head -n 1)
      [ "$pixel" = "$CAPTION" ] && { status=0; break; }
      sleep 0.1
    done
    [ "$status" = 0 ] || echo "  the caption shows $pixel, not the skin'"'"'s $CAPTION"
  else
    echo "  no status window appeared"
  fi
  kill -TERM "$pid" 2>/dev/null
  for ((i = 0; i < 100; i++)); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  [ "$status" = 0 ] || sed "s/^/  /" "$PACKAGE_WORK/pellora.log"
  exit "$status"
' || fail "the installed program did not show its strip in the Harbrook skin"

step "dpkg removes it, leaving nothing behind"
quiet 120 "$work/remove.log" dpkg --root="$root" --purge pellora
find "$root" | sort >"$work/after"
# The package database and the library cache that ldconfig keeps are the system's, not the
# package's.
leftovers=$(comm -13 "$work/before" "$work/after" |
  grep -v -e "^$root/var/lib/dpkg/" -e "^$root/etc/ld.so.cache\$" -e "^$root/var/cache/ldconfig" || true)
[ -z "$leftovers" ] || { echo "$leftovers" >&2; fail "files left behind in the root after removal"; }
echo "Package test passed: $(basename "$deb")"
