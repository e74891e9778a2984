#!/usr/bin/env bash
# What the files of a Windows build say before any of them runs: what they
# import and export, what the compiler made of the code; the shipped 32-bit
# files in either set, and the x86-64 twin's in its own.
#   tests/windows/files.sh [--arch i686|x86_64]
set -euo pipefail
cd "$(dirname "$0")/../.."
source tests/windows/lib.sh
windows_set_up files "$@"

# check_files ARCH PROGRAM_DIR BUILD_DIR DLL_DIR...: the two programs in
# PROGRAM_DIR, the objects in BUILD_DIR, the simulated DLLs in each DLL_DIR.
check_files() {
  local arch=$1 programs=$2 build=$3 program exe dll p kind clocks=
  shift 3
  # C symbols bear a leading underscore on i686 and none on x86-64.
  case $arch in
    i686) p=_ kind='PE32 executable \(console\) Intel 80386' ;;
    x86_64) p='' kind='PE32\+ executable \(console\) x86-64' ;;
  esac
  for program in minute-trigger minute-trigger-precise; do
    exe=$programs/$program.exe
    check "$arch $program: file says ${kind//\\/}" grep -qE "^$kind[ ,].*for MS Windows" <(file -b "$exe")
    check "$arch $program: AWG10K.dll imported by ordinals 1 3 5 6 7, nothing by name" \
      same "1 <none>,3 <none>,5 <none>,6 <none>,7 <none>" "$(imports AWG10K.dll "$exe" | sort -n | paste -sd,)"
    # winmm is there only for the 1 ms timer (timeBeginPeriod).
    check "$arch $program: needs only Windows' DLLs and AWG10K.dll, winmm for the 1 ms timer; printf from msvcrt, the C runtime's own rather than MinGW's" \
      same "advapi32.dll awg10k.dll kernel32.dll msvcrt.dll winmm.dll |printf" \
        "$(imported_dlls "$exe")|$(imports msvcrt.dll "$exe" | awk '$2 == "printf" { print $2 }')"
    # Two look-ups in the platform code, so that the program loads where
    # they are missing; the trace under Wine shows which.
    check "$arch $program: its own code loads no library, and looks things up only in platform/windows.cpp and windows_clock_sync.cpp" \
      same "platform/windows.cpp.obj platform/windows_clock_sync.cpp.obj|" \
      "$(cd "$build/CMakeFiles" && for obj in $program.dir/*/*.obj ../device/windows/CMakeFiles/awg10k.dir/*.obj trigger_warmth.dir/device/warming/*.obj; do
           pe_nm -u "$obj" | grep -q GetProcAddress && echo "${obj#*/}"; done | paste -sd' ')|$(
         pe_nm -u "$build"/CMakeFiles/$program.dir/*/*.obj "$build"/device/windows/CMakeFiles/awg10k.dir/*.obj "$build"/CMakeFiles/trigger_warmth.dir/device/warming/*.obj | grep LoadLibrary || true)"
    # Each program's clock, nothing of the other's: the default one must start
    # on Windows 7, which lacks the precise clock and SetProcessInformation.
    clocks+="$program: $(imports msvcrt.dll "$exe" | awk '$2 ~ /^_(ftime|gmtime)64$/ { print $2 }' | sort | paste -sd' ')"
    clocks+=" $(imports KERNEL32.dll "$exe" | awk '$2 ~ /Precise|^SetProcessInformation$/ { print $2 }' | paste -sd' ');"
  done
  check "$arch: minute-trigger's clock is _ftime64 and _gmtime64, imports nothing Windows 7 lacks; minute-trigger-precise's is GetSystemTimePreciseAsFileTime" \
    same "minute-trigger: _ftime64 _gmtime64 ;minute-trigger-precise: _gmtime64 GetSystemTimePreciseAsFileTime;" "$clocks"
  # The import library holds only the slots, so the link itself makes the
  # thin functions own the plain names; what it allows is a main that calls
  # through a slot (declared dllimport), in whatever convention it assumes.
  local main=$build/CMakeFiles/minute-trigger.dir/controller/main.cpp.obj
  check "$arch: main calls the entries by their plain names, the thin functions, never through an import slot" \
    same "${p}AWG10K_Trigger|" "$(pe_nm -u "$main" | awk '{ print $2 }' | grep -x "${p}AWG10K_Trigger")|$(
      pe_nm -u "$main" | grep '__imp_.*AWG10K' || true)"
  for dll in "$@"; do
    check "$arch simulated DLL in ${dll#"$PWD"/}: exports ordinals 1 3 5 6 7, needs only Windows' DLLs" \
      same "1 3 5 6 7 |kernel32.dll msvcrt.dll " "$(exported_ordinals "$dll/AWG10K.dll")|$(imported_dlls "$dll/AWG10K.dll")"
  done
  # Plain i686 has no prefetch instruction, and the compiler drops the hint silently.
  check "$arch: the trigger entry's warming is built in: prefetch instructions" \
    grep -q prefetch <(pe_objdump -d --no-show-raw-insn "$build/minute-trigger.exe" |
                       awk "/<${p}_Z15WarmTriggerPathv>:/, /ret/")
}

# What only the shipped 32-bit build has: two conventions, and a distribution.
check_shipped_files() {
  # Were the two DLLs the same convention, the runs below would test one twice.
  check "simulated DLLs: the stdcall one's trigger pops its own argument, the cdecl one's leaves that to the caller" \
    same "_AWG10K_Trigger@4|_AWG10K_Trigger" "$(pe_nm "${sim[stdcall]}/AWG10K.dll" | awk '$3 == "_AWG10K_Trigger@4" { print $3 }')|$(
      pe_nm "${sim[cdecl]}/AWG10K.dll" | awk '$3 ~ /^_AWG10K_Trigger(@|$)/ { print $3 }')"
  check "the distribution: the two programs, the launcher (CR LF line ends throughout) and its tasks, INSTALL.txt and BUILD.txt, no AWG10K.dll" \
    same "BUILD.txt INSTALL.txt minute-trigger-boot.xml minute-trigger-logon.xml minute-trigger-precise.exe minute-trigger.exe run-minute-trigger.cmd|0" \
    "$(ls "$dist" | sort | paste -sd' ')|$(grep -cv $'\r$' "$dist/run-minute-trigger.cmd" || true)"
  local kind xml trigger launch
  for kind in logon boot; do
    xml=$dist/minute-trigger-$kind.xml trigger=${kind^}Trigger
    check "task for $kind: UTF-16 with a byte order mark, as the Task Scheduler writes it; parses, in its namespace" \
      same "fffe|http://schemas.microsoft.com/windows/2004/02/mit/task" \
      "$(head -c 2 "$xml" | od -An -tx1 | tr -d ' \n')|$(xmllint --xpath 'namespace-uri(/*)' "$xml")"
    check "task for $kind: no time limit, on battery too, never a second copy, no idle conditions, priority 4 or better (the default, 7, is below normal)" \
      same "PT0S false false IgnoreNew false false 4 or better" \
      "$(for s in ExecutionTimeLimit DisallowStartIfOnBatteries StopIfGoingOnBatteries MultipleInstancesPolicy \
                  RunOnlyIfIdle IdleSettings/StopOnIdleEnd; do task_setting "$xml" Settings/$s; done | paste -sd' ') $(
         [ "$(task_setting "$xml" Settings/Priority)" -le 4 ] 2>/dev/null && echo 4 or better)"
    # A launcher that ran and then ended is started again only by a
    # repetition: RestartOnFailure covers a failed start alone.
    check "task for $kind: the $trigger repeats every 5 minutes or less for good, and a failed start is retried" \
      grep -qxE 'true every PT[1-5]M until: retried: PT[0-9]+[MS] x[1-9][0-9]*' <<<"$(
        t=Triggers/$trigger r=Settings/RestartOnFailure
        echo "$(task_setting "$xml" $t/Enabled) every $(task_setting "$xml" $t/Repetition/Interval)" \
             "until:$(task_setting "$xml" $t/Repetition/Duration)$(task_setting "$xml" $t/EndBoundary)" \
             "retried: $(task_setting "$xml" $r/Interval) x$(task_setting "$xml" $r/Count)")"
    # Windows checks these sequences against the schema, Wine does not.
    check "task for $kind: the trigger's and the action's elements in the schema's order" eval \
      'in_order "$xml" Triggers/$trigger Enabled StartBoundary EndBoundary Repetition ExecutionTimeLimit UserId Delay &&
         in_order "$xml" Actions/Exec Command Arguments WorkingDirectory'
    # Through cmd.exe /c with doubled quotes: a bare launcher path is a command
    # line, which a folder with a blank would split. conhost.exe named with a
    # program opens the classic console, never Terminal.
    launch='%SystemRoot%\System32\cmd.exe|/c ""C:\Qmx\AWG10K\run-minute-trigger.cmd""'
    [ $kind = boot ] || launch="%SystemRoot%\System32\conhost.exe|${launch/|/ }"
    check "task for $kind: the launcher in the folder INSTALL.txt uses, through cmd.exe /c in quotes$([ $kind = boot ] || echo ', in a classic console')" \
      same "$launch" "$(task_setting "$xml" Actions/Exec/Command)|$(task_setting "$xml" Actions/Exec/Arguments)"
  done
}
# in_order FILE PATH NAME...: the elements under PATH are all among the
# NAMEs, in their order (any may be left out).
in_order() {
  local xml=$1 xpath step i n actual=() expected=()
  xpath=$(task_xpath "$2")
  shift 2
  n=$(xmllint --xpath "count($xpath/*)" "$xml")
  for ((i = 1; i <= n; i++)); do actual+=("$(xmllint --xpath "local-name($xpath/*[$i])" "$xml")"); done
  for step in "$@"; do [[ " ${actual[*]} " == *" $step "* ]] && expected+=("$step"); done
  same "${expected[*]}" "${actual[*]}"
}

# task_xpath PATH: PATH (a/b/c) under a task definition's root as XPath,
# whatever its namespace; task_setting FILE PATH: the text there, or empty.
task_xpath() {
  local step xpath="/*[local-name()='Task']" IFS=/
  for step in $1; do xpath+="/*[local-name()='$step']"; done
  echo "$xpath"
}
task_setting() { xmllint --xpath "string($(task_xpath "$2"))" "$1" 2>/dev/null; }

# What wixl cannot write, which packaging/windows/msi-tables.sh adds to the
# shipped package (scripts/package-msi.sh), read back with msiinfo.
check_package() {
  local msi
  msi=$win/dist/minute-trigger-$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$win/CMakeCache.txt")-x86.msi
  table() { msiinfo export "$msi" "$1" | tr -d '\r' | tail -n +4; }
  check "package: INSTALLDIR, TASK and the remembered two secure properties (kept by an install elevated for a non-administrator); Restart Manager off" \
    same "INSTALLDIR REMEMBEREDDIR REMEMBEREDTASK TASK|Disable" \
    "$(table Property | awk -F'\t' '$1 == "SecureCustomProperties" { gsub(";", "\n", $2); print $2 }' |
       grep -xE 'INSTALLDIR|TASK|REMEMBERED(DIR|TASK)' | sort | paste -sd' ')|$(
       table Property | awk -F'\t' '$1 == "MSIRESTARTMANAGERCONTROL" { print $2 }')"
  # Rollback (0x100) in the script (0x400): run only if the install fails;
  # commit (0x200): only once it can no longer fail, so that a later failure
  # never rolls back under a running program.
  check "package: RestoreTask, RestartTask and UnlockFolders are rollback steps, RunTask the one commit step" \
    same "rollback: RestartTask RestoreTask UnlockFolders|commit: RunTask" \
    "$(table CustomAction | while IFS=$'\t' read -r name type _; do if (((type & 0x700) == 0x500)); then echo "$name"; fi; done | sort | paste -sd' ' |
       sed 's/^/rollback: /')|$(table CustomAction | while IFS=$'\t' read -r name type _; do if (((type & 0x700) == 0x600)); then echo "$name"; fi; done |
       sort | paste -sd' ' | sed 's/^/commit: /')"
}

check_files i686 "$dist" "$win" "${sim[stdcall]}" "${sim[cdecl]}"
check_shipped_files
check_package
[ "$arch" = i686 ] || check_files x86_64 "$win64" "$win64" "${sim[x86_64]}"
summary
