#!/bin/sh
# Turns the two flat documents into the workbooks the reader tests read: run once with
# LibreOffice installed, and commit what it makes.
set -e
cd "$(dirname "$0")"
profile=$(mktemp -d)
convert() {
  soffice "-env:UserInstallation=file://$profile" --headless --convert-to "$1" --outdir . "$2"
}
for target in "xlsx:Calc MS Excel 2007 XML" "ods:calc8" "xls:MS Excel 97"; do
  convert "$target" made-by-libreoffice.fods
done
# What the program's .xls holds: texts only, empty cells without a value.
convert "xls:MS Excel 97" texts-by-libreoffice.fods
# Empty texts as text cells, which freexl cannot open.
convert "xls:MS Excel 97" empty-text-by-libreoffice.fods
rm -rf "$profile"
