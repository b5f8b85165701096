#!/usr/bin/env bash
# Writes the man page of a program from its own --help text and that of its
# subcommands, so that the page and the help never disagree. An OUT that ends
# in .gz is compressed as Debian wants man pages (gzip -9n: no name, no time,
# so the same page gives the same bytes).
# usage: make-man.sh PROGRAM NAME SUMMARY OUT [SUBCOMMAND...]
set -euo pipefail
prog=$1 name=$2 summary=$3 out=$4
shift 4
version=$("$prog" --version | awk '{print $NF}')
# Roff: a backslash becomes \e, a line that starts with . or ' is protected.
escape() { sed -e 's/\\/\\e/g' -e "s/^\([.']\)/\\\\\&\1/"; }
{
  echo ".TH ${name^^} 1 \"\" \"$name $version\" \"User Commands\""
  echo ".SH NAME"
  echo "$name \\- $summary"
  echo ".SH DESCRIPTION"
  echo ".nf"
  "$prog" --help | escape
  echo ".fi"
  for sub in "$@"; do
    echo ".SH \"$name ${sub^^}\""
    echo ".nf"
    "$prog" "$sub" --help | escape
    echo ".fi"
  done
} >"$out.tmp"
if [[ $out == *.gz ]]; then
  gzip -9n -c "$out.tmp" >"$out.tmp.gz"
  rm "$out.tmp"
  mv "$out.tmp.gz" "$out"
else
  mv "$out.tmp" "$out"
fi
