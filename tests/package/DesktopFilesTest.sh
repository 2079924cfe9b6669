#!/usr/bin/env bash
# The desktop integration files of a build as desktop tools read them: the menu entry and the
# metainfo pass their validators, the manual pages format without warnings, and the bash
# completion of pellora-cli completes commands, options and language codes.
# Usage: DesktopFilesTest.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(realpath "$1")
source=$(realpath "$2")
share="$build/share"
status=0
fail() { echo "FAIL: $*" >&2; status=1; }

desktop=("$share"/applications/*.desktop)
metainfo=("$share"/metainfo/*.metainfo.xml)
[ ${#desktop[@]} -eq 1 ] && [ -f "${desktop[0]}" ] || fail "not one menu entry in $share/applications"
[ ${#metainfo[@]} -eq 1 ] && [ -f "${metainfo[0]}" ] || fail "not one metainfo file in $share/metainfo"

echo "== desktop-file-validate ${desktop[0]##*/}"
desktop-file-validate "${desktop[0]}" || fail "desktop-file-validate rejects ${desktop[0]}"

echo "== appstreamcli validate ${metainfo[0]##*/}"
appstreamcli validate --no-net --pedantic "${metainfo[0]}" || fail "appstreamcli rejects ${metainfo[0]}"
# The metainfo and the menu entry name each other, and the screenshots it points at ship.
id=$(sed -n 's:.*<id>\(.*\)</id>.*:\1:p' "${metainfo[0]}")
[ "$id.desktop" = "${desktop[0]##*/}" ] || fail "metainfo id $id does not name ${desktop[0]##*/}"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "${metainfo[0]}" ||
  fail "the metainfo does not launch $id.desktop"
while read -r width height url; do
  shot="$source/docs/screenshots/${url##*/}"
  [ -f "$shot" ] || { fail "screenshot $url is not in docs/screenshots/"; continue; }
  size=$(identify -format '%wx%h' "$shot")
  [ "$size" = "${width}x$height" ] || fail "$shot is $size, the metainfo says ${width}x$height"
done < <(sed -n 's:.*<image[^>]*width="\([0-9]*\)" height="\([0-9]*\)"[^>]*>\(.*\)</image>.*:\1 \2 \3:p' "${metainfo[0]}")

echo "== manual pages"
for page in pellora pellora-cli pellora-skinpack pellora-exchange; do
  file="$share/man/man1/$page.1.gz"
  [ -f "$file" ] || { fail "no manual page $file"; continue; }
  warnings=$(zcat "$file" | LC_ALL=C.UTF-8 MANWIDTH=80 groff -man -Tutf8 -ww -z 2>&1 || true)
  [ -z "$warnings" ] || fail "$page(1): $warnings"
  zcat "$file" | grep -q '^\.SH NAME' || fail "$page(1) has no NAME section"
done

echo "== bash completion of pellora-cli"
# Completes the words as bash would at the end of the line; prints the candidates sorted.
complete_line() {
  bash --norc --noprofile -c '
    source "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _pellora_cli; printf "%s\n" "${COMPREPLY[@]}" | LC_ALL=C sort | tr "\n" " "' \
    completion "$source/share/bash-completion/completions/pellora-cli" "$@"
}
expect_completion() { # expected words...
  local expected=$1
  shift
  local got
  got=$(HOME="$(mktemp -d)" complete_line "$@")
  [ "$got" = "$expected" ] || fail "completing '$*' gave '$got', not '$expected'"
}
expect_completion "download " pellora-cli do
expect_completion "--help download groups help messages pick selection upload " pellora-cli ""
expect_completion "--group --help --own --raw " pellora-cli messages EN -
expect_completion "1,2 1,3 1,4 " pellora-cli pick --groups 1,
expect_completion "4,1,2 4,1,3 " pellora-cli selection --groups 4,1,
expect_completion "DE EN NL " pellora-cli download ""
expect_completion "EN " pellora-cli upload e
expect_completion "--group --help --own --raw " pellora-cli messages NL ""
exit "$status"
