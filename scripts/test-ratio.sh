#!/usr/bin/env bash
# Prints, per folder and in total, the lines of test over the lines of code.
# A line counts when it holds something besides blanks and comments. Code is
# every .h/.cpp outside tests/ and bench/; tests are the .h/.cpp under tests/,
# counted against the folder of the same name (tests/support and other test
# folders without a code folder count in the total only).
# Usage: scripts/test-ratio.sh [source root]   (prints; never fails the build)
set -uo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root" || exit 0

# "<lines> <path>" for each file given on stdin (NUL-separated).
count_lines() {
  xargs -0 -r awk '
    FNR == 1 { if (file != "") print n, file; file = FILENAME; n = 0; state = "code" }
    { n += CountLine($0) }
    END { if (file != "") print n, file }

    # state: "code", "block" (inside /* */), or "raw" (inside a raw string
    # literal whose closing text is in rawEnd). Strings and character literals
    # never span lines here, so they are skipped within the line.
    function CountLine(line,    i, len, c, two, seen, j, q, d, prev) {
      seen = 0; len = length(line); i = 1
      while (i <= len) {
        c = substr(line, i, 1); two = substr(line, i, 2)
        if (state == "block") {
          j = index(substr(line, i), "*/")
          if (j == 0) return seen
          i += j + 1; state = "code"; continue
        }
        if (state == "raw") {
          seen = 1
          j = index(substr(line, i), rawEnd)
          if (j == 0) return seen
          i += j + length(rawEnd) - 1; state = "code"; continue
        }
        if (two == "//") return seen
        if (two == "/*") { state = "block"; i += 2; continue }
        if (c ~ /[ \t\r\f\v]/) { i++; continue }
        seen = 1
        prev = i > 1 ? substr(line, i - 1, 1) : ""
        if (c == "R" && substr(line, i + 1, 1) == "\"" && prev !~ /[A-Za-z0-9_]/) {
          j = index(substr(line, i + 2), "(")
          d = substr(line, i + 2, j - 1)
          rawEnd = ")" d "\""; state = "raw"; i += j + 2; continue
        }
        if (c == "\"" || (c == "\047" && prev !~ /[0-9A-Fa-f]/)) {
          q = c; i++
          while (i <= len && substr(line, i, 1) != q) i += (substr(line, i, 1) == "\\") ? 2 : 1
          i++; continue
        }
        i++
      }
      return seen
    }'
}

# Every .h/.cpp of the tree, one path a line, relative to the root: in a git
# work tree the tracked and untracked files that are not ignored (so build
# folders never count), elsewhere every file outside build/ and hidden folders.
all_sources() {
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files --cached --others --exclude-standard -- '*.h' '*.cpp' |
      while IFS= read -r f; do [[ -f $f ]] && printf '%s\n' "$f"; done
  else
    find . -type f \( -name '*.h' -o -name '*.cpp' \) ! -path './build/*' ! -path './.*' -printf '%P\n'
  fi
}

files=$(all_sources)
code=$(grep '/' <<<"$files" | grep -Ev '^(tests|bench)/' | tr '\n' '\0' | count_lines)
tests=$(grep -E '^tests/' <<<"$files" | tr '\n' '\0' | count_lines)
codeDirs=$(awk '{ split($2, p, "/"); print p[1] }' <<<"$code" | sort -u)
testDirs=$(awk '{ split($2, p, "/"); print p[2] }' <<<"$tests" | sort -u)

sum_under() {  # sum of the counts whose path starts with $2, from the list $1
  awk -v p="$2" 'index($2, p) == 1 { s += $1 } END { print s + 0 }' <<<"$1"
}
ratio() { awk -v t="$1" -v c="$2" 'BEGIN { if (c > 0) printf "%.2f", t / c; else printf "-" }'; }

printf '%-14s %7s %7s %6s\n' folder code tests ratio
totalCode=0
for d in $codeDirs; do
  c=$(sum_under "$code" "$d/")
  t=$(sum_under "$tests" "tests/$d/")
  printf '%-14s %7d %7d %6s\n' "$d/" "$c" "$t" "$(ratio "$t" "$c")"
  totalCode=$((totalCode + c))
done
for t in $testDirs; do
  grep -qx "$t" <<<"$codeDirs" && continue
  n=$(sum_under "$tests" "tests/$t/")
  ((n > 0)) && printf '%-14s %7s %7d %6s\n' "tests/$t/" - "$n" -
done
totalTests=$(sum_under "$tests" "tests/")
printf '%-14s %7d %7d %6s\n' total "$totalCode" "$totalTests" "$(ratio "$totalTests" "$totalCode")"
exit 0
