# Helpers of the Windows tests, sourced by tests/windows/test.sh.

passed=0
failed=0
skipped=0
# check NAME COMMAND...: one test, passing when COMMAND succeeds.
check() {
  local name=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
    echo "ok: $name"
  else
    failed=$((failed + 1))
    echo "FAIL: $name"
  fi
}
# skip NAME WHY: a case that cannot run on this machine, counted and named.
skip() {
  skipped=$((skipped + 1))
  echo "SKIPPED: $1: $2"
}
# same EXPECTED ACTUAL: equal strings; shows both when not.
same() {
  [ "$1" = "$2" ] && return 0
  printf '  expected: %q\n  actual:   %q\n' "$1" "$2"
  return 1
}
# bytes EXPECTED FILE: FILE holds exactly the bytes EXPECTED.
bytes() { same "$1" "$(cat "$2" 2>/dev/null; echo .)"; }
winpath() { local p=$1; echo "Z:${p//\//\\}"; }  # Wine maps / to drive Z:

# What a Windows file says, read with the objdump of its own architecture
# ($objdump, set by the caller).
# imports DLL FILE: the members FILE imports from DLL, one a line ("7 <none>"
# for ordinal 7, imported without a name).
imports() {
  "$objdump" -p "$2" |
    awk -v dll="$1" '/DLL Name:/ { on = tolower($3) == tolower(dll); next }
                     on && NF == 0 { on = 0 }
                     on && $1 ~ /^[0-9a-f]+$/ { print $2 + 0, $3 }'
}
imported_dlls() {
  "$objdump" -p "$1" | awk '/DLL Name:/ { print tolower($3) }' | sort | tr '\n' ' '
}
exported_ordinals() {
  "$objdump" -p "$1" |
    awk '/^Export Address Table -- Ordinal Base/ { on = 1; next } on && NF == 0 { on = 0 }
         on && /\+base\[/ { sub(/.*\+base\[ */, ""); sub(/\].*/, ""); print }' | tr '\n' ' '
}

# calls LOG: the simulator's log without its time stamps, calls joined by |.
calls() { sed -E 's/^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}\.[0-9]{9}Z //' "$1" 2>/dev/null | paste -sd'|'; }
