#!/usr/bin/env bash
# Installs the build into a scratch folder and checks what a package would carry: the
# files in their places, the desktop entry and the AppStream data accepted by their
# validators, and the installed program answering --version without a display.
set -euo pipefail
build="$1"
dest="$(mktemp -d)"
trap 'rm -rf "$dest"' EXIT
DESTDIR="$dest" cmake --install "$build" --prefix /usr >/dev/null
root="$dest/usr"
for f in bin/tornelo bin/barrier-sim share/tornelo/tornelo.chm \
         share/applications/de.quendra.tornelo.desktop \
         share/metainfo/de.quendra.tornelo.metainfo.xml \
         share/icons/hicolor/scalable/apps/de.quendra.tornelo.svg \
         share/man/man1/tornelo.1.gz share/man/man1/barrier-sim.1.gz; do
  [ -e "$root/$f" ] || { echo "missing: /usr/$f"; exit 1; }
done
# Nothing else under the prefix (no headers, no test programs, no libraries).
extra="$(cd "$root" && find . -type f | grep -v -E '^\./(bin/(tornelo|barrier-sim)|share/(tornelo|applications|metainfo|icons|man)/)' || true)"
[ -z "$extra" ] || { echo "unexpected files:"; echo "$extra"; exit 1; }

# The package brings what the program loads by name at run time (help library, fonts,
# Qt's German texts for the standard dialogs).
for dep in libchm1 fonts-liberation qt6-translations-l10n; do
  grep -q "CPACK_DEBIAN_PACKAGE_DEPENDS \".*$dep" "$build/CPackConfig.cmake" ||
    { echo "package does not depend on $dep"; exit 1; }
done

DISPLAY= WAYLAND_DISPLAY= QT_QPA_PLATFORM=xcb "$root/bin/tornelo" --version | grep -q '^tornelo [0-9]'

skipped=0
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$root/share/applications/de.quendra.tornelo.desktop"
else
  echo "desktop-file-validate not installed (package desktop-file-utils): not checked"; skipped=1
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net --pedantic "$root/share/metainfo/de.quendra.tornelo.metainfo.xml" >/dev/null
else
  echo "appstreamcli not installed (package appstream): not checked"; skipped=1
fi
[ "$skipped" -eq 0 ] || exit 77
echo "install ok"
