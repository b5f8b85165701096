#!/usr/bin/env bash
# Writes the man page of a program from its own --help text and that of its
# subcommands, so that the page and the help never disagree. An OUT that ends
# in .gz is compressed as Debian wants man pages (gzip -9n: no name, no time,
# so the same page gives the same bytes).
# usage: make-man.sh [--sections FLAG] PROGRAM NAME SUMMARY OUT [SUBCOMMAND...]
# --sections FLAG: `PROGRAM FLAG` prints further sections, each beginning
# with a line "= TITLE" (playsrv --reference: the methods, written from the
# interface description); they follow the help, as written.
set -euo pipefail
sections=
if [[ ${1:-} == --sections ]]; then
  sections=$2
  shift 2
fi
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
  if [[ -n $sections ]]; then
    "$prog" "$sections" | escape | awk '
      /^= / { if (open) print ".fi"; sub(/^= /, ""); print ".SH \"" $0 "\""; print ".nf"; open = 1; next }
      { print }
      END { if (open) print ".fi" }'
  fi
} >"$out.tmp"
if [[ $out == *.gz ]]; then
  gzip -9n -c "$out.tmp" >"$out.tmp.gz"
  rm "$out.tmp"
  mv "$out.tmp.gz" "$out"
else
  mv "$out.tmp" "$out"
fi
