#!/usr/bin/env bash
# Checks the documentation a reader follows, so that a moved or renamed file or
# heading does not leave a dead end:
#   docs_test.sh links [FILE.md...]  every relative link, and its #anchor, resolves
#                                    (by default in README.md and docs/*.md)
#   docs_test.sh man PAGE          the man page lints clean with mandoc and groff,
#                                  and its title line names the project's version
set -euo pipefail
source "$(dirname "$0")/lib.sh"

# The anchor a Markdown heading gets: lower case, punctuation dropped, blanks
# made hyphens.
slug() { tr '[:upper:]' '[:lower:]' | sed 's/[^a-z0-9 _-]//g; s/ /-/g'; }
# A Markdown file without its fenced code, where nothing is a heading or a link.
unfenced() { awk '/^```/ { fenced = !fenced; next } !fenced' "$1"; }
anchors() { unfenced "$1" | sed -n 's/^#\+ \+//p' | slug; }
# The link targets, one a line, outside inline code spans too.
targets() { unfenced "$1" | sed 's/`[^`]*`//g' | grep -o '\](\([^)]*\))' | sed 's/^](//; s/)$//' || true; }

# links_resolve FILE: every relative link in FILE, and its #anchor, resolves.
links_resolve() {
  local file=$1 bad=0 target path anchor where
  while IFS= read -r target; do
    case $target in http://* | https://* | mailto:*) continue ;; esac
    path=${target%%#*} anchor= where=$file
    [[ $target != *#* ]] || anchor=${target#*#}
    [ -z "$path" ] || where=$(dirname "$file")/$path
    if [ ! -e "$where" ]; then
      echo "  link to $target: no such file $where" && bad=1
    elif [ -n "$anchor" ] && ! anchors "$where" | grep -qxF -- "$anchor"; then
      echo "  link to $target: no heading #$anchor in $where" && bad=1
    fi
  done < <(targets "$file")
  return $bad
}

case ${1:-} in
  links)
    shift
    root=$(cd "$(dirname "$0")/.." && pwd)
    [ $# -gt 0 ] || set -- "$root/README.md" "$root"/docs/*.md
    for file in "$@"; do check "$file: every relative link and its #anchor resolve" links_resolve "$file"; done ;;
  # mandoc's exit status counts warnings and worse; groff only reports them.
  man)
    check "$2 lints clean with mandoc -Tlint" mandoc -Tlint -W warning "$2"
    check "$2 lints clean with groff -ww" same "" "$(groff -ww -z -man "$2" 2>&1)"
    # The version a reader of the page sees is the one the build reports.
    check "$2 names the version of CMakeLists.txt's project line" \
      same "$(sed -n 's/^project(minute-trigger VERSION \([^ )]*\).*/\1/p' "$(dirname "$0")/../CMakeLists.txt")" \
      "$(sed -n 's/^\.TH [^"]*"minute-trigger \([^"]*\)".*/\1/p' "$2")" ;;
  *) echo "usage: $0 links [FILE.md...] | man PAGE" >&2; exit 2 ;;
esac
summary
