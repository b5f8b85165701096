#!/usr/bin/env bash
# Writes the README's examples into a folder, so that the tests build and
# run exactly what the README shows: each fenced block that follows a line
# "<!-- example: NAME -->" becomes the file NAME.
# usage: readme-examples.sh README OUTDIR
set -euo pipefail
readme=$1 out=$2
mkdir -p "$out"
awk -v out="$out" '
  /^<!-- example: .* -->$/ { name = $3; next }
  name != "" && /^```/ { if (inside) { close(file); name = ""; inside = 0 } else { file = out "/" name; printf "" > file; inside = 1 } next }
  inside { print > file }
' "$readme"
for f in example.c example.cpp example.py; do
  [[ -s $out/$f ]] || { echo "readme-examples.sh: $readme has no example $f" >&2; exit 1; }
done
