# shellcheck shell=bash
# The Windows tests' set-up and helpers, on top of tests/lib.sh. Each file
# sources it and runs on its own; test.sh hands its set-up on to them.
source tests/lib.sh
export LC_ALL=C

win=build-test-windows cdecl=build-test-windows-cdecl win64=build-test-windows-x86_64
dist=$win/dist/minute-trigger
declare -A sim=([stdcall]=$PWD/$win/simulator [cdecl]=$PWD/$cdecl/simulator [x86_64]=$PWD/$win64/simulator)

# windows_set_up WHO [--arch i686|x86_64]: unless test.sh has, installs,
# picks the set (arch, why_not_32bit) and builds; sets variants (keys of
# sim[]) and faketime for the Wine runs.
windows_set_up() {
  local who=$1 asked=${3:-}
  [ $# -eq 1 ] || { [ $# -eq 3 ] && [ "$2" = --arch ] && [[ $3 == @(i686|x86_64) ]]; } ||
    { echo "usage: tests/windows/$who.sh [--arch i686|x86_64]" >&2; exit 2; }
  arch=${MINUTE_TRIGGER_WINDOWS_SET:-} why_not_32bit=${MINUTE_TRIGGER_WINDOWS_WHY:-}
  if [ -z "$arch" ]; then
    need g++-mingw-w64-i686 g++-mingw-w64-x86-64 cmake make file wine wine64 g++-i686-linux-gnu qemu-user \
      bsdutils libxml2-utils strace wixl msitools libfaketime
    pick_set "$asked"
    build_set || { check "the cross builds" false; summary || exit 1; }
    export MINUTE_TRIGGER_WINDOWS_SET=$arch MINUTE_TRIGGER_WINDOWS_WHY=$why_not_32bit
  fi
  echo "test-windows: $who: the $arch set${why_not_32bit:+ ($why_not_32bit)}"
  if [ "$arch" = i686 ]; then
    export WINEARCH=win32
    wine=/usr/lib/wine/wine programs=$PWD/$dist build=$PWD/$win variants=(stdcall cdecl)
  else
    # 64-bit Wine's own loader throughout: the wine command would pick the
    # 32-bit one wherever it is installed, whether or not the kernel runs it.
    export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64
    wine=$WINELOADER programs=$PWD/$win64 build=$PWD/$win64 variants=(x86_64)
  fi
  faketime=$(faketime_library "$([ "$arch" = i686 ] && echo i386 || echo x86_64)" || true)
  # The faked clock for 32-bit Wine (time64_faked.c says why).
  [ "$arch" != i686 ] || [ -z "$faketime" ] || faketime="$PWD/$win/time64_faked.so:$faketime"
}

# pick_set ASKED: i686 where it can run, else the x86-64 twin, saying why.
# The i386 packages apart, so that a day they cannot be installed costs the
# 32-bit runs alone; not tried where the kernel runs no 32-bit program.
pick_set() {
  arch=x86_64 why_not_32bit="the x86_64 set was asked for"
  [ "$1" != x86_64 ] || return 0
  if ! echo 'int main() { return 0; }' | i686-linux-gnu-gcc -static -x c -o "$tmp/32-bit" - || ! "$tmp/32-bit" 2>/dev/null; then
    why_not_32bit="this kernel does not run 32-bit programs, so 32-bit Wine cannot start"
  elif ! need wine32:i386 libfaketime:i386; then
    why_not_32bit="the 32-bit Wine packages (wine32:i386 libfaketime:i386) could not be installed (need's reason above)"
  elif ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    why_not_32bit="32-bit Wine (/usr/lib/wine/wine) does not start"
  else
    arch=i686 why_not_32bit=
    return 0
  fi
  [ "$1" != i686 ] || { echo "test-windows: the i686 set was asked for, but $why_not_32bit" >&2; exit 1; }
  echo "test-windows: $why_not_32bit: running the x86-64 twin under 64-bit Wine instead"
}

# build_set: the 32-bit build and its distribution (laid out again, about
# 2 s), the cdecl DLL and (x86_64 set) the twin, each up to date.
build_set() {
  BUILD_DIR=$win scripts/build-windows.sh || return 1
  # Built in either set: files.sh reads it against 32-bit Wine on any kernel.
  [ $win/time64_faked.so -nt tests/windows/time64_faked.c ] ||
    i686-linux-gnu-gcc -std=c11 -Wall -Wextra -Wpedantic -Werror -O2 -shared -fPIC \
      -o $win/time64_faked.so tests/windows/time64_faked.c || return 1
  echo "test-windows: building what is out of date of the test programs, $cdecl$([ "$arch" = i686 ] || echo " and $win64")"
  cmake --build $win -j2 --target call_stress probe warmth_check minute-trigger-tick-clock >/dev/null || return 1
  [ -f $cdecl/CMakeCache.txt ] ||
    cmake -S . -B $cdecl -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DAWG10K_CALLING_CONVENTION=cdecl >/dev/null || return 1
  cmake --build $cdecl -j2 --target awg10k_simulator >/dev/null || return 1
  [ "$arch" = x86_64 ] || return 0
  # Configured each time, as build-windows.sh does $win: a target new since
  # the last configure is unknown to make until then.
  cmake -S . -B $win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null || return 1
  cmake --build $win64 -j2 --target all call_stress probe warmth_check minute-trigger-tick-clock >/dev/null
}

# i386_file PACKAGE PATH: PATH of PACKAGE:i386 at the installed 64-bit
# package's version: installed, or else unpacked into $win/i386 (fetched,
# never installed, so any kernel will do); fails, saying why, where it
# cannot be had (the i386 index unfetchable, say).
i386_file() {
  local version dir=$PWD/$win/i386 sudo=() log=$tmp/i386-$1.log
  [ ! -f "$2" ] || { echo "$2"; return; }
  version=$(dpkg-query -W -f='${Version}' "$1:amd64")
  if [ "$(cat "$dir/$1.version" 2>/dev/null)" != "$version" ]; then
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    dpkg --print-foreign-architectures | grep -qx i386 || "${sudo[@]}" dpkg --add-architecture i386
    mkdir -p "$dir/debs" && rm -f "$dir/debs/$1"_*
    echo "test-windows: fetching $1:i386 $version, to be unpacked in $dir" >&2
    (cd "$dir/debs" && { apt-get download "$1:i386=$version" || { "${sudo[@]}" apt-get update || true; apt-get download "$1:i386=$version"; }; } >"$log" 2>&1) ||
      { echo "$1:i386 $version could not be fetched: $(grep -E '^[EW]: ' "$log" | head -n 2 | paste -sd' ')" >&2; return 1; }
    dpkg-deb -x "$dir/debs/$1"_*_i386.deb "$dir/root" && echo "$version" >"$dir/$1.version"
  fi
  [ -f "$dir/root$2" ] || { echo "$1:i386 $version holds no $2" >&2; return 1; }
  echo "$dir/root$2"
}

winpath() { local p=$1; echo "Z:${p//\//\\}"; }  # Wine maps / to drive Z:

# One objdump and one nm read PE32 and PE32+ alike.
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
imported_dlls() { pe_objdump -p "$1" | awk '/DLL Name:/ { print tolower($3) }' | sort | tr '\n' ' '; }
exported_ordinals() { pe_objdump -p "$1" | sed -n '/^Export Address Table/,/^$/ s/.*+base\[ *\([0-9]*\)\].*/\1/p' | tr '\n' ' '; }

# wine_run [OPTION...] [VAR=VALUE...] PROGRAM [ARG...]: PROGRAM (a Linux path
# or Wine's own, as cmd) under $wine from $tmp, no input; its exit status.
# In $WINEPREFIX, within 300 s. -d DIR: AWG10K.dll's folder (WINEPATH);
# -o NAME: output to $tmp/NAME.out and .err; -b: in the background, no
# limit, pid in wine_pid; -c: on a pseudo-terminal, as in a Command Prompt;
# -w 'CMD': Wine under CMD (strace ...).
wine_run() {
  local out=/dev/null err=/dev/null bg= console= vars=() through=() cmd
  while :; do
    case $1 in
      -d) vars+=("WINEPATH=$(winpath "$2")") ;;
      -o) out=$tmp/$2.out err=$tmp/$2.err ;;
      -w) read -ra through <<<"$2" ;;
      -b | -c) [ "$1" = -b ] && bg=yes || console=yes; shift; continue ;;
      *) break ;;
    esac
    shift 2
  done
  while [[ $1 == *=* ]]; do vars+=("$1"); shift; done
  cmd=(env "${vars[@]}" "${through[@]}" "$wine" "$@")
  [ -z "$console" ] || cmd=(script -qec "$(printf '%q ' "${cmd[@]}")" /dev/null)
  [ -n "$bg" ] || cmd=(timeout 300 "${cmd[@]}")
  (cd "$tmp" && exec "${cmd[@]}" </dev/null >"$out" 2>"$err") &
  wine_pid=$!
  [ -n "$bg" ] || wait $wine_pid
}

# No display, no offer of Mono or Gecko, no debug output unless asked.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
prefixes=() on_exit=end_wine
end_wine() { local p; for p in "${prefixes[@]}"; do WINEPREFIX=$p wineserver -k 2>/dev/null || true; done; }

# new_prefix DIR WHAT [FROM]: DIR a fresh prefix, in use, ended at exit: a
# copy of FROM, a settled prefix of the caller's, or else of the plain one.
# The file wineserver, naming the server's folder, would have Wine make that
# folder again under each TMPDIR and leave it.
new_prefix() {
  local made=${3:-}
  [ -n "$made" ] || { plain_prefix; made=$plain; }
  echo "test-windows: a fresh $WINEARCH Wine prefix $2 in $1${3:+, a copy of $3}"
  cp -a "$made" "$1"
  rm -f "$1/wineserver"
  export WINEPREFIX=$1
  prefixes+=("$WINEPREFIX")
}
# plain_prefix: plain, a prefix made once per Wine and set, to be copied,
# made first where it is missing or older. Wine's schtasks fails for good in
# a prefix used before it settled.
plain_prefix() {
  local version
  plain=$PWD/$win/wine-prefix-$WINEARCH version=$("$wine" --version)
  if [ "$(cat "$plain.version" 2>/dev/null)" != "$version" ]; then
    echo "test-windows: making a $WINEARCH Wine prefix in $plain, to be copied for each run"
    rm -rf "$plain"
    WINEPREFIX=$plain wine_run wineboot --init
    WINEPREFIX=$plain timeout 300 wineserver -w
    rm -f "$plain/wineserver"
    echo "$version" >"$plain.version"
  fi
}
