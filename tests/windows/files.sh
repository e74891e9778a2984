#!/usr/bin/env bash
# What the files of a Windows build say before any of them runs: what they
# import and export, what the compiler made of the code; the shipped 32-bit
# files in either set, and the x86-64 twin's in its own.
#   tests/windows/files.sh [--arch i686|x86_64]
set -euo pipefail
cd "$(dirname "$0")/../.."
source tests/windows/lib.sh
windows_set_up files "$@"

# Windows' entries the shipped program imports, each in Windows XP already.
windows7="CloseHandle|CloseServiceHandle|CreateSemaphoreW|CreateToolhelp32Snapshot|DeleteCriticalSection|EnterCriticalSection|FreeLibrary|\
GetConsoleMode|GetCurrentProcess|GetCurrentThreadId|GetLastError|GetModuleHandle(A|W|ExW)|GetProcAddress|GetStartupInfoA|GetStdHandle|\
GetSystemTimeAdjustment|InitializeCriticalSection|IsDBCSLeadByteEx|LeaveCriticalSection|LoadLibraryA|Module32(First|Next)W|\
MultiByteToWideChar|OpenSCManagerW|OpenServiceW|QueryServiceStatus|ReleaseSemaphore|SetConsoleCtrlHandler|SetConsoleMode|SetLastError|\
SetThreadExecutionState|SetUnhandledExceptionFilter|Sleep|Tls(Alloc|Free|GetValue|SetValue)|VirtualProtect|VirtualQuery|\
WaitForSingleObject|WideCharToMultiByte|timeBeginPeriod"

# check_files ARCH PROGRAM_DIR BUILD_DIR DLL_DIR...: the program in
# PROGRAM_DIR, the objects in BUILD_DIR, the simulated DLLs in each DLL_DIR.
check_files() {
  local arch=$1 programs=$2 build=$3 exe dll p kind
  shift 3
  # C symbols bear a leading underscore on i686 and none on x86-64.
  case $arch in
    i686) p=_ kind='PE32 executable \(console\) Intel 80386' ;;
    x86_64) p='' kind='PE32\+ executable \(console\) x86-64' ;;
  esac
  exe=$programs/minute-trigger.exe
  check "$arch minute-trigger: file says ${kind//\\/}" grep -qE "^$kind[ ,].*for MS Windows" <(file -b "$exe")
  check "$arch minute-trigger: AWG10K.dll imported by ordinals 1 3 5 6 7, nothing by name" \
    same "1 <none>,3 <none>,5 <none>,6 <none>,7 <none>" "$(imports AWG10K.dll "$exe" | sort -n | paste -sd,)"
  # winmm is there only for the 1 ms timer (timeBeginPeriod).
  check "$arch minute-trigger: needs only Windows' DLLs and AWG10K.dll, winmm for the 1 ms timer; printf from msvcrt, the C runtime's own rather than MinGW's" \
    same "advapi32.dll awg10k.dll kernel32.dll msvcrt.dll winmm.dll |printf" \
      "$(imported_dlls "$exe")|$(imports msvcrt.dll "$exe" | awk '$2 == "printf" { print $2 }')"
  # Three look-ups in the platform code, so that the program loads where
  # they are missing; the trace under Wine shows which.
  check "$arch minute-trigger: its own code loads no library, and looks things up only in platform/windows.cpp, windows_clock.cpp and windows_clock_sync.cpp" \
    same "platform/windows.cpp.obj platform/windows_clock.cpp.obj platform/windows_clock_sync.cpp.obj|" \
    "$(cd "$build/CMakeFiles" && for obj in minute-trigger.dir/*/*.obj ../device/windows/CMakeFiles/awg10k.dir/*.obj trigger_warmth.dir/device/warming/*.obj; do
         pe_nm -u "$obj" | grep -q GetProcAddress && echo "${obj#*/}"; done | paste -sd' ')|$(
       pe_nm -u "$build"/CMakeFiles/minute-trigger.dir/*/*.obj "$build"/device/windows/CMakeFiles/awg10k.dir/*.obj "$build"/CMakeFiles/trigger_warmth.dir/device/warming/*.obj | grep LoadLibrary || true)"
  check "$arch minute-trigger: the runtime's _ftime64 and _gmtime64 imported; the precise clock looked up, never imported" \
    same "_ftime64 _gmtime64|" "$(imports msvcrt.dll "$exe" | awk '$2 ~ /^_(ftime|gmtime)64$/ { print $2 }' | sort | paste -sd' ')|$(
      imports KERNEL32.dll "$exe" | awk '$2 ~ /Precise/ { print $2 }')"
  # The shipped program must start on Windows 7: every entry it imports from
  # Windows' own DLLs (the C runtime's aside) is one Windows XP already had,
  # and its header asks for no later Windows than 7 (6.1).
  if [ "$arch" = i686 ]; then
    check "$arch minute-trigger: imports nothing Windows 7 lacks, and its header asks for Windows 7 or earlier" \
      same "|6.1 or earlier" "$(pe_objdump -p "$exe" | awk '/DLL Name:/ { dll = tolower($3) } dll !~ /^(msvcrt|awg10k)\.dll$/ && /^\t[0-9a-f]+\t/ { print $3 }' |
        grep -vxE "$windows7" | paste -sd' ')|$(pe_objdump -p "$exe" | awk '$1 ~ /^Major(OSystem|Subsystem)Version$/ { v = $2 }
          $1 ~ /^Minor(OSystem|Subsystem)Version$/ && v * 100 + $2 > 601 { late = 1 } END { print late ? "later" : "6.1 or earlier" }')"
  fi
  # The check names a missing AWG10K.dll, and runs under Wine, whose
  # powrprof lacks PowerReadACValueIndex: it must import neither.
  # What it loads at run time, it loads from System32 alone (LoadLibraryExW).
  check "$arch minute-trigger-check: imports neither AWG10K.dll nor powrprof.dll, so it starts where either is missing; its code loads a DLL only through LoadLibraryExW" \
    same "kernel32.dll|LoadLibraryExW" "$(imported_dlls "$programs/minute-trigger-check.exe" | tr ' ' '\n' | grep -E '^(awg10k|powrprof|kernel32)\.dll$' | paste -sd' ')|$(
      pe_nm -u "$build"/CMakeFiles/minute-trigger-check.dir/check/*.obj | grep -o 'LoadLibrary[A-Za-z]*' | sort -u | paste -sd' ')"
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
  # Why it may be missing: CMakeLists.txt, trigger_warmth.
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
  check "the distribution: the program, the check, the launcher (CR LF line ends throughout) and its tasks, minute-trigger-INSTALL.txt and minute-trigger-BUILD.txt, no AWG10K.dll" \
    same "minute-trigger-BUILD.txt minute-trigger-INSTALL.txt minute-trigger-boot.xml minute-trigger-check.exe minute-trigger-logon.xml minute-trigger.exe run-minute-trigger.cmd|0" \
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
    # Why a repetition and a retry both: minute-trigger-logon.xml.
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
    # Why cmd.exe /d /c, the doubled quotes and conhost.exe:
    # minute-trigger-logon.xml.
    launch='%SystemRoot%\System32\cmd.exe|/d /c ""C:\Qmx\AWG10K\run-minute-trigger.cmd""'
    [ $kind = boot ] || launch="%SystemRoot%\System32\conhost.exe|${launch/|/ }"
    check "task for $kind: the launcher in the folder minute-trigger-INSTALL.txt uses, through cmd.exe /d /c in quotes$([ $kind = boot ] || echo ', in a classic console')" \
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
  check "package: INSTALLDIR and TASK secure properties (kept by an install elevated for a non-administrator), the remembered two not; Restart Manager off" \
    same "INSTALLDIR TASK|Disable" \
    "$(table Property | awk -F'\t' '$1 == "SecureCustomProperties" { gsub(";", "\n", $2); print $2 }' |
       grep -xE 'INSTALLDIR|TASK|REMEMBERED(DIR|TASK)' | sort | paste -sd' ')|$(
       table Property | awk -F'\t' '$1 == "MSIRESTARTMANAGERCONTROL" { print $2 }')"
  # Each custom step's type read bit by bit, not as the build computes it;
  # a custom step in no sequence shows as "none".
  check "package: its InstallUISequence and InstallExecuteSequence, and its custom steps' types, sources and targets, are packaging/windows/install-steps.tsv's" \
    diff <(grep -v '^#' packaging/windows/install-steps.tsv | tail -n +2 | awk -F'\t' -v OFS='\t' '
             $3 != "execute" { print "ui", $1, $2, $4, $5, $6, $7, $8, $9, $10 }
             $3 != "ui" { print "execute", $1, $2, $4, $5, $6, $7, $8, $9, $10 }' | sort) \
         <(awk -F'\t' -v OFS='\t' '
             function bit(n) { return int(type[$1] / n) % 2 }
             FILENAME == ARGV[1] { type[$1] = $2; source[$1] = $3; target[$1] = $4; next }
             {
               in_ = FILENAME == ARGV[2] ? "ui" : "execute"; when = $2 == "" ? "-" : $2; sequenced[$1] = 1
               if (!($1 in type)) { print in_, $3, $1, "standard", "-", "-", "-", "-", "-", when; next }
               base = type[$1] % 64
               what = base == 1 ? "dll" : base == 50 ? "program" : base == 51 ? "set" : "type " type[$1]
               runs = !bit(1024) ? "immediate" : bit(256) ? "rollback" : bit(512) ? "commit" : "deferred"
               as = !bit(1024) ? (what == "set" ? "-" : "user") : bit(2048) ? "system" : "user"
               ret = what == "set" ? "-" : bit(64) ? "ignore" : "check"
               print in_, $3, $1, what, source[$1], target[$1], runs, as, ret, when
             }
             END { for (step in type) if (!(step in sequenced)) print "none", step }' \
             <(table CustomAction) <(table InstallUISequence) <(table InstallExecuteSequence) | sort)
}

# Read with nm, so that a kernel that runs no 32-bit program, where the i686
# set cannot run, still finds an entry time64_faked.so lacks.
clock_entries() {
  nm -D "$@" | awk '{ sub(/@.*/, "", $NF); print $NF }' |
    grep -xE '(__)?(time|gettimeofday|clock_gettime|clock_getres|ftime|timespec_get|timespec_getres)(64)?' | sort -u
}
check_faked_clock_entries() {
  local ntdll imported
  ntdll=$(i386_file libwine /usr/lib/i386-linux-gnu/wine/i386-unix/ntdll.so 2>"$tmp/ntdll.why") ||
    { skip "the faked clock's entries against 32-bit Wine's ntdll.so" "$(tail -n 1 "$tmp/ntdll.why")"; return; }
  imported=$(clock_entries -u "$ntdll")
  check "the faked clock for 32-bit Wine: time64_faked.so wraps every clock entry its ntdll.so imports ($(paste -sd' ' <<<"$imported"))" \
    eval '[ -n "$imported" ] && same "$imported" "$(comm -12 <(echo "$imported") <(clock_entries --defined-only "$win/time64_faked.so"))"'
}

check_files i686 "$dist" "$win" "${sim[stdcall]}" "${sim[cdecl]}"
check_shipped_files
check_package
check_faked_clock_entries
[ "$arch" = i686 ] || check_files x86_64 "$win64" "$win64" "${sim[x86_64]}"
summary
