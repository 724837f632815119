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
echo "install: ok"
