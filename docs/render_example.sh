#!/bin/sh
# render_example.sh - draw the example receipt into docs/example-receipt.png.
#
#   docs/render_example.sh [path/to/gen_xml]
#
# Builds nothing: it runs an already built gen_xml (build/gen_xml under the
# repository unless another is given) on examples/shop.txt with
# examples/logo.bmp, in a temporary directory, and draws the receipt with
# rsvg-convert on a white background, one pixel per receipt unit.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
gen_xml=${1:-"$root/build/gen_xml"}
out="$root/docs/example-receipt.png"

if [ ! -x "$gen_xml" ]; then
    echo "render_example.sh: no gen_xml at $gen_xml; build it first:" >&2
    echo "  cmake -S . -B build && cmake --build build" >&2
    exit 1
fi
if ! command -v rsvg-convert >/dev/null 2>&1; then
    echo "render_example.sh: rsvg-convert is not installed (Debian package librsvg2-bin)" >&2
    exit 1
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$gen_xml" "$tmp/example-receipt.svg" "$root/examples/shop.txt" "$root/examples/logo.bmp"
rsvg-convert -b white -o "$tmp/example-receipt.png" "$tmp/example-receipt.svg"
mv "$tmp/example-receipt.png" "$out"
echo "wrote $out"
