#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what lands where.
set -eu
cmake=$1 build=$2 prefix=$3
rm -rf "$prefix"
"$cmake" --install "$build" --prefix "$prefix" > /dev/null
fail() { echo "install: $*" >&2; exit 1; }

[ -x "$prefix/bin/vellumark" ] || fail "bin/vellumark missing or not executable"
entry="$prefix/share/applications/vellumark.desktop"
[ -f "$entry" ] || fail "share/applications/vellumark.desktop missing"
for line in '[Desktop Entry]' 'Type=Application' 'Name=Vellumark' 'Exec=vellumark' \
            'Icon=vellumark' 'Categories=Graphics;'; do
  grep -qxF "$line" "$entry" || fail "desktop entry lacks '$line'"
done
if command -v desktop-file-validate > /dev/null; then desktop-file-validate "$entry"; fi

icon="$prefix/share/icons/hicolor/32x32/apps/vellumark.png"
[ -f "$icon" ] || fail "share/icons/hicolor/32x32/apps/vellumark.png missing"
# A PNG whose header says 32 x 32.
[ "$(head -c 8 "$icon" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "icon is not a PNG"
[ "$(head -c 24 "$icon" | tail -c 8 | od -An -tx1 | tr -d ' \n')" = 0000002000000020 ] ||
  fail "icon is not 32 x 32"

# The command line: needs no display, so neither Qt Widgets nor Qt Gui; its manual page.
batch="$prefix/bin/vellumark-batch"
[ -x "$batch" ] || fail "bin/vellumark-batch missing or not executable"
libs=$(ldd "$batch") || fail "ldd cannot read bin/vellumark-batch"
if echo "$libs" | grep -E 'libQt6(Widgets|Gui)'; then fail "bin/vellumark-batch links Qt Widgets or Qt Gui"; fi
env -u DISPLAY -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY "$batch" --version > /dev/null || fail "vellumark-batch does not start"
page="$prefix/share/man/man1/vellumark-batch.1"
[ -f "$page" ] || fail "share/man/man1/vellumark-batch.1 missing"
head -5 "$page" | grep -q '^\.TH VELLUMARK-BATCH 1' || fail "manual page lacks its .TH line"
# man renders it without a complaint (groff's warnings are errors here).
if command -v man > /dev/null && command -v groff > /dev/null; then
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 > /dev/null) || fail "man cannot show the page"
  [ -z "$warnings" ] || fail "man warns: $warnings"
  MANWIDTH=80 man -l "$page" 2> /dev/null | grep -q -- '--shard' || fail "the page shows no --shard"
fi
echo "install: ok"
