# What the files of a Windows build say, before any of them runs: what they
# import and export, and what the compiler made of the code. Sourced by
# tests/windows/test.sh.

# check_files ARCH PROGRAM_DIR BUILD_DIR DLL_DIR...: the two programs in
# PROGRAM_DIR, the objects in BUILD_DIR, the simulated DLLs in each DLL_DIR.
check_files() {
  local arch=$1 programs=$2 build=$3 program exe dll p kind
  shift 3
  local objdump=$arch-w64-mingw32-objdump nm=$arch-w64-mingw32-nm
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
    check "$arch $program: timeBeginPeriod from WINMM" grep -qx '[0-9]* timeBeginPeriod' <(imports WINMM.dll "$exe")
    check "$arch $program: printf from msvcrt, the C runtime's own rather than MinGW's" \
      grep -qx '[0-9]* printf' <(imports msvcrt.dll "$exe")
    check "$arch $program: console mode and Ctrl handler from KERNEL32" \
      same "GetConsoleMode SetConsoleCtrlHandler SetConsoleMode" \
      "$(imports KERNEL32.dll "$exe" | awk '$2 ~ /Console(Mode|CtrlHandler)$/ { print $2 }' | sort | paste -sd' ')"
    check "$arch $program: needs only Windows' DLLs and AWG10K.dll" \
      same "awg10k.dll kernel32.dll msvcrt.dll winmm.dll " "$(imported_dlls "$exe")"
    # The one look-up allowed is kernel32's SetProcessInformation, in the
    # platform code; the run-time trace under Wine shows what it looks up.
    check "$arch $program: its own code loads no library, and looks things up only in platform/windows.cpp" \
      same "platform/windows.cpp.obj|" \
      "$(cd "$build/CMakeFiles" && for obj in $program.dir/*/*.obj ../device/windows/CMakeFiles/awg10k.dir/*.obj trigger_warmth.dir/device/*/*.obj; do
           $nm -u "$obj" | grep -q GetProcAddress && echo "${obj#*/}"; done | paste -sd' ')|$(
         $nm -u "$build"/CMakeFiles/$program.dir/*/*.obj "$build"/device/windows/CMakeFiles/awg10k.dir/*.obj "$build"/CMakeFiles/trigger_warmth.dir/device/*/*.obj | grep LoadLibrary || true)"
  done
  check "$arch minute-trigger: the clock is _ftime64, with _gmtime64, both from msvcrt" \
    same "_ftime64 _gmtime64" "$(imports msvcrt.dll "$programs/minute-trigger.exe" | awk '$2 ~ /^_(ftime|gmtime)64$/ { print $2 }' | sort | paste -sd' ')"
  check "$arch minute-trigger: not the precise clock" \
    eval "! imports KERNEL32.dll $programs/minute-trigger.exe | grep -q Precise"
  check "$arch minute-trigger-precise: the clock is GetSystemTimePreciseAsFileTime, not _ftime64" \
    same "GetSystemTimePreciseAsFileTime" \
    "$(imports KERNEL32.dll "$programs/minute-trigger-precise.exe" | awk '$2 ~ /Precise/ { print $2 }'; imports msvcrt.dll "$programs/minute-trigger-precise.exe" | awk '$2 == "_ftime64" { print $2 }')"
  check "$arch: main refers to the entries by their plain names" \
    grep -qx "U ${p}AWG10K_Trigger" <($nm -u "$build/CMakeFiles/minute-trigger.dir/controller/main.cpp.obj" | awk '{ print $1, $2 }')
  local entries="" slots="" entry
  for entry in Close GetNumberOfDevices Open SetFile Trigger; do
    entries+="${entries:+ }${p}AWG10K_$entry" slots+=" __imp_${p}AWG10K_$entry"
  done
  # (x86-64 adds a .refptr. pointer of its own for each slot it reads.)
  local thin=$build/device/windows/CMakeFiles/awg10k.dir/AWG10K_entries.cpp.obj
  check "$arch: the plain names are the thin functions, which reach the DLL only through the import slots" \
    same "$entries|${p}AWG10K_CallEntry$slots" \
    "$($nm -g --defined-only "$thin" | awk '$3 !~ /^\.refptr\./ { print $3 }' | sort | paste -sd' ')|$($nm -u "$thin" | awk '{ print $2 }' | sort | paste -sd' ')"
  for dll in "$@"; do
    check "$arch simulated DLL in ${dll#"$PWD"/}: exports ordinals 1 3 5 6 7" \
      same "1 3 5 6 7 " "$(exported_ordinals "$dll/AWG10K.dll")"
    check "$arch simulated DLL in ${dll#"$PWD"/}: needs only Windows' DLLs" \
      same "kernel32.dll msvcrt.dll " "$(imported_dlls "$dll/AWG10K.dll")"
  done
  # Plain i686 has no prefetch instruction, and the compiler drops the hint silently.
  check "$arch: the trigger entry's warming is built in: prefetch instructions" \
    grep -q prefetch <($objdump -d --no-show-raw-insn "$build/minute-trigger.exe" |
                       awk "/<${p}_Z15WarmTriggerPathv>:/, /ret/")
}

# What only the shipped 32-bit build has: two conventions, and a distribution.
check_shipped_files() {
  local nm=i686-w64-mingw32-nm
  # Were the two DLLs the same convention, the runs below would test one twice.
  check "simulated DLL, stdcall: its trigger pops its own argument" \
    grep -q ' _AWG10K_Trigger@4$' <($nm "${sim[stdcall]}/AWG10K.dll")
  check "simulated DLL, cdecl: its trigger leaves that to the caller" \
    eval "! $nm '${sim[cdecl]}/AWG10K.dll' | grep -q '_AWG10K_Trigger@'"
  check "the distribution: the two programs, the launcher and its tasks, INSTALL.txt and BUILD.txt, no AWG10K.dll" \
    same "BUILD.txt INSTALL.txt minute-trigger-boot.xml minute-trigger-logon.xml minute-trigger-precise.exe minute-trigger.exe run-minute-trigger.cmd" \
    "$(ls "$dist" | sort | paste -sd' ')"
  check "the launcher has CR LF line ends throughout" \
    same 0 "$(grep -cv $'\r$' "$dist/run-minute-trigger.cmd" || true)"
  check "minute-trigger.exe imports neither SetProcessInformation nor the precise clock, which Windows 7 lacks" \
    eval "! imports KERNEL32.dll $dist/minute-trigger.exe | grep -qE 'SetProcessInformation|Precise'"
  local kind xml trigger
  for kind in logon boot; do
    xml=$dist/minute-trigger-$kind.xml
    check "task for $kind: UTF-16 with a byte order mark, as the Task Scheduler writes it" \
      same "fffe" "$(head -c 2 "$xml" | od -An -tx1 | tr -d ' \n')"
    check "task for $kind: parses, in the Task Scheduler's namespace" \
      same "http://schemas.microsoft.com/windows/2004/02/mit/task" "$(xmllint --xpath 'namespace-uri(/*)' "$xml")"
    check "task for $kind: no time limit, on battery too, never a second copy, no idle conditions" \
      same "PT0S false false IgnoreNew false false" \
      "$(for s in ExecutionTimeLimit DisallowStartIfOnBatteries StopIfGoingOnBatteries MultipleInstancesPolicy \
                  RunOnlyIfIdle IdleSettings/StopOnIdleEnd; do task_setting "$xml" Settings/$s; done | paste -sd' ')"
    check "task for $kind: priority 4 or better (the default, 7, is below normal)" \
      test "$(task_setting "$xml" Settings/Priority)" -le 4
    trigger=$([ $kind = logon ] && echo LogonTrigger || echo BootTrigger)
    check "task for $kind: the $trigger starts the launcher in the folder INSTALL.txt uses" \
      same "true|C:\Qmx\AWG10K\run-minute-trigger.cmd" \
      "$(task_setting "$xml" Triggers/$trigger/Enabled)|$(task_setting "$xml" Actions/Exec/Command)"
  done
}

# task_setting FILE PATH: the text at PATH (a/b/c) under a task definition's
# root, whatever its namespace; empty if there is none.
task_setting() {
  local step xpath="/*[local-name()='Task']" IFS=/
  for step in $2; do xpath+="/*[local-name()='$step']"; done
  xmllint --xpath "string($xpath)" "$1" 2>/dev/null
}
