# shellcheck shell=bash
# What the Windows tests add to tests/lib.sh; sourced by tests/windows/test.sh.
winpath() { local p=$1; echo "Z:${p//\//\\}"; }  # Wine maps / to drive Z:

# What a Windows file says. One objdump and one nm read PE32 and PE32+ alike,
# so no check depends on being handed the right one.
pe_objdump() { x86_64-w64-mingw32-objdump "$@"; }
pe_nm() { x86_64-w64-mingw32-nm "$@"; }
# imports DLL FILE: the members FILE imports from DLL, one a line ("7 <none>"
# for ordinal 7, imported without a name); fails if there are none.
imports() {
  pe_objdump -p "$2" |
    awk -v dll="$1" '/DLL Name:/ { on = tolower($3) == tolower(dll); found = found || on; next }
                     on && NF == 0 { on = 0 }
                     on && $1 ~ /^[0-9a-f]+$/ { print $2 + 0, $3 }
                     END { exit !found }'
}
# imports_none_of DLL REGEX FILE: FILE imports from DLL, nothing matching REGEX.
imports_none_of() { local list; list=$(imports "$1" "$3") && ! grep -E "$2" <<<"$list"; }
imported_dlls() { pe_objdump -p "$1" | awk '/DLL Name:/ { print tolower($3) }' | sort | tr '\n' ' '; }
exported_ordinals() {
  pe_objdump -p "$1" |
    awk '/^Export Address Table -- Ordinal Base/ { on = 1; next } on && NF == 0 { on = 0 }
         on && /\+base\[/ { sub(/.*\+base\[ */, ""); sub(/\].*/, ""); print }' | tr '\n' ' '
}

# wine_run [OPTION...] [VAR=VALUE...] PROGRAM [ARG...]: PROGRAM (a Linux path,
# or Wine's own, such as cmd) under the set's loader ($wine), from $tmp, with
# no input and the VARs set; returns its exit status. -p PREFIX: the Wine
# prefix (default $WINEPREFIX); -d DIR: where AWG10K.dll is found (WINEPATH),
# never beside the program; -o NAME: output to $tmp/NAME.out, standard error
# to NAME.err; -t SECONDS: the time limit (120); -b: in the background, no
# limit, its process in wine_pid; -c: in a console, on a pseudo-terminal as
# in a Command Prompt's window; -w 'CMD': Wine under CMD (strace ...).
wine_run() {
  local prefix=$WINEPREFIX out=/dev/null err=/dev/null limit=120 bg= console= vars=() through=() cmd
  while :; do
    case $1 in
      -p) prefix=$2 ;;
      -d) vars+=("WINEPATH=$(winpath "$2")") ;;
      -o) out=$tmp/$2.out err=$tmp/$2.err ;;
      -t) limit=$2 ;;
      -w) read -ra through <<<"$2" ;;
      -b | -c) [ "$1" = -b ] && bg=yes || console=yes; shift; continue ;;
      *) break ;;
    esac
    shift 2
  done
  while [[ $1 == *=* ]]; do vars+=("$1"); shift; done
  cmd=(env WINEPREFIX="$prefix" "${vars[@]}" "${through[@]}" "$wine" "$@")
  [ -z "$console" ] || cmd=(script -qec "$(printf '%q ' "${cmd[@]}")" /dev/null)
  [ -n "$bg" ] || cmd=(timeout "$limit" "${cmd[@]}")
  (cd "$tmp" && exec "${cmd[@]}" </dev/null >"$out" 2>"$err") &
  wine_pid=$!
  [ -n "$bg" ] || wait $wine_pid
}

# new_prefix DIR WHAT: makes DIR a fresh Wine prefix and the one in use, ended
# at exit. Wine's schtasks fails for good in a prefix used before it has
# settled, hence the wait.
new_prefix() {
  export WINEPREFIX=$1
  echo "test-windows: making a $WINEARCH Wine prefix $2 in $WINEPREFIX"
  prefixes+=("$WINEPREFIX")
  wine_run -t 300 wineboot --init
  timeout 300 wineserver -w
}

# The programs' output is in text mode, as on the lab PC: each \n as \r\n.
banner=$'\r\nTriggering loop will start within a minute: \r\n\r\n'
# trigger_line VAR EPOCH: sets VAR to the line for the minute from EPOCH.
trigger_line() { printf -v "$1" 'Trigger: %s  \r\n' "$(date -u -d "@$2" '+%Y%m%d %H:%M:00')"; }
