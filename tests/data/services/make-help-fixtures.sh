#!/bin/sh
# Rebuilds the help-file fixtures from help-src/ (needs chmcmd, Debian package
# fp-utils). The results are committed, so the tests do not need chmcmd:
#   Tavrel.chm          contents 1 index, 25 and 7 pages
#   damaged.chm         the same file cut off after its directory, before the pages
set -eu
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$here"/help-src/* "$work"/
(cd "$work" && chmcmd Tavrel.hhp >/dev/null 2>&1)
cp "$work/Tavrel.chm" "$here/Tavrel.chm"
head -c 6000 "$work/Tavrel.chm" > "$here/damaged.chm"
