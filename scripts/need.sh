#!/usr/bin/env bash
# Installs those of the named Debian packages that are missing, and says so.
# apt's own output is appended to a log file, under a header per install, so
# the log of a run that installed several times holds every install; the last
# lines of this install are shown if it fails.
# Usage: scripts/need.sh PACKAGE...
set -euo pipefail

missing=()
for pkg in "$@"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "need: all present: $*"
  exit 0
fi

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
log=${TMPDIR:-/tmp}/minute-trigger-need.log
echo "need: installing ${missing[*]} (apt's output: $log)"
printf '\n==== %s need.sh: installing %s\n' "$(date -u '+%Y-%m-%d %H:%M:%S UTC')" "${missing[*]}" >>"$log"
start=$(wc -l <"$log")
# Runs a command with its output in the log; on failure shows the end of what
# this install wrote there (not an earlier install's).
quietly() {
  if ! "$@" >>"$log" 2>&1; then
    echo "need: failed: $* (last lines of $log follow)" >&2
    tail -n +"$start" "$log" | tail -n 30 >&2
    exit 1
  fi
}
if printf '%s\n' "${missing[@]}" | grep -q ':i386$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "need: adding the i386 architecture"
  quietly "${sudo[@]}" dpkg --add-architecture i386
fi
quietly "${sudo[@]}" apt-get update
quietly "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
echo "need: installed ${missing[*]}"
