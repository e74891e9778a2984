#!/usr/bin/env bash
# Installs those of the named Debian packages that are missing, and says so.
# apt's own output is appended to a log file, under a header per install, so
# the log of a run that installed several times holds every install.
# A mirror's bad day must not stop the run: an index that will not download
# (a mirror mid-sync, a list of the wrong size) is tried once more after a
# pause, then named in a warning, and the install goes on with the lists that
# did load. Only a failed install fails, naming its packages and apt's reason,
# with the last lines this install wrote to the log.
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
# Another apt at work (an unattended upgrade, a second need.sh) holding the
# dpkg lock is waited for, not taken for a failure. apt-get update does not
# wait for its own lock: the retry below covers that.
apt=("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600)
log=${TMPDIR:-/tmp}/minute-trigger-need.log
echo "need: installing ${missing[*]} (apt's output: $log)"
printf '\n==== %s need.sh: installing %s\n' "$(date -u '+%Y-%m-%d %H:%M:%S UTC')" "${missing[*]}" >>"$log"
start=$(($(wc -l <"$log") + 1))
# logged COMMAND...: COMMAND's output appended to the log; its E: and W:
# lines in said.
logged() {
  local from status=0
  from=$(($(wc -l <"$log") + 1))
  "$@" >>"$log" 2>&1 || status=$?
  said=$(tail -n +"$from" "$log" | grep -E '^[EW]: ' || true)
  return $status
}
if printf '%s\n' "${missing[@]}" | grep -q ':i386$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "need: adding the i386 architecture"
  logged "${sudo[@]}" dpkg --add-architecture i386 || { echo "need: could not add the i386 architecture (see $log)" >&2; exit 1; }
fi
# apt-get update may report an index it could not fetch with a warning and
# status 0 (a host it cannot reach), or with an error and status 100.
updated() { logged "${apt[@]}" update && ! grep -qE '^[EW]: Failed to fetch ' <<<"$said"; }
if ! updated; then
  echo "need: apt-get update failed; trying once more in 10 s"
  sleep 10
  if ! updated; then
    # Each index that would not download, or else whatever apt said.
    { grep -E '^[EW]: Failed to fetch ' <<<"$said" || grep -E '^E: ' <<<"$said" || echo "apt-get update failed, saying nothing"; } |
      sed -E 's/^[EW]: Failed to fetch ([^ ]+) +(.*)$/could not fetch \1 (\2)/; s/^/need: warning: /' >&2
    echo "need: going on with the package lists that did load" >&2
  fi
fi
if ! logged "${apt[@]}" install -y --no-install-recommends "${missing[@]}"; then
  reason=$(grep '^E: ' <<<"$said" | paste -sd' ' || true)
  echo "need: could not install ${missing[*]}: ${reason:-apt-get gave no reason}" >&2
  echo "need: the last lines of this install in $log:" >&2
  tail -n +"$start" "$log" | tail -n 30 >&2
  exit 1
fi
echo "need: installed ${missing[*]}"
