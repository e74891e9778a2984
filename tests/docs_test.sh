#!/usr/bin/env bash
# Checks the documentation a reader follows, so that a moved or renamed file or
# heading does not leave a dead end:
#   docs_test.sh links [FILE.md...]  every relative link, and its #anchor, resolves
#                                    (by default in README.md and docs/*.md)
#   docs_test.sh man PAGE          the man page lints clean with mandoc and groff,
#                                  and its title line names the project's version
set -euo pipefail

# The anchor a Markdown heading gets: lower case, punctuation dropped, blanks
# made hyphens.
slug() { tr '[:upper:]' '[:lower:]' | sed 's/[^a-z0-9 _-]//g; s/ /-/g'; }

# The anchors of a Markdown file's headings (outside fenced code).
anchors() {
  awk '/^```/ { fenced = !fenced; next } !fenced && /^#+ / { sub(/^#+ +/, ""); print }' "$1" | slug
}

# The link targets of a Markdown file, one a line, outside fenced code and
# inline code spans.
targets() {
  awk '/^```/ { fenced = !fenced; next } !fenced' "$1" |
    sed 's/`[^`]*`//g' | grep -o '\](\([^)]*\))' | sed 's/^](//; s/)$//' || true
}

links() {
  local bad=0 checked=0 file target path anchor where
  for file in "$@"; do
    while IFS= read -r target; do
      case $target in http://* | https://* | mailto:*) continue ;; esac
      checked=$((checked + 1))
      path=${target%%#*}
      anchor=
      [[ $target == *#* ]] && anchor=${target#*#}
      if [ -z "$path" ]; then
        where=$file
      else
        where=$(dirname "$file")/$path
      fi
      if [ ! -e "$where" ]; then
        echo "docs: $file: link to $target: no such file $where" >&2
        bad=$((bad + 1))
      elif [ -n "$anchor" ] && ! anchors "$where" | grep -qxF -- "$anchor"; then
        echo "docs: $file: link to $target: no heading #$anchor in $where" >&2
        bad=$((bad + 1))
      fi
    done < <(targets "$file")
  done
  echo "docs: $checked relative links in $# files, $bad broken"
  [ "$bad" -eq 0 ]
}

man_page() {
  local page=$1 out
  # mandoc's exit status counts warnings and worse; groff only reports them.
  mandoc -Tlint -W warning "$page"
  out=$(groff -ww -z -man "$page" 2>&1)
  if [ -n "$out" ]; then
    echo "$out" >&2
    exit 1
  fi
  echo "docs: $page lints clean (mandoc -Tlint, groff -ww)"
  # The version a reader of the page sees is the one the build reports.
  local version named
  version=$(sed -n 's/^project(minute-trigger VERSION \([^ )]*\).*/\1/p' "$(dirname "$0")/../CMakeLists.txt")
  named=$(sed -n 's/^\.TH [^"]*"minute-trigger \([^"]*\)".*/\1/p' "$page")
  if [ -z "$version" ] || [ "$named" != "$version" ]; then
    echo "docs: $page names version \"$named\", CMakeLists.txt's project line \"$version\"" >&2
    exit 1
  fi
  echo "docs: $page names version $version, as CMakeLists.txt does"
}

case ${1:-} in
  links)
    shift
    if [ $# -eq 0 ]; then
      root=$(cd "$(dirname "$0")/.." && pwd)
      set -- "$root/README.md" "$root"/docs/*.md
    fi
    links "$@" ;;
  man) man_page "$2" ;;
  *) echo "usage: $0 links [FILE.md...] | man PAGE" >&2; exit 2 ;;
esac
