@echo off
rem Runs minute-trigger.exe from this folder for good (or the program named
rem as the first argument: a file name in this folder, or a full path), at
rem high priority, with its output appended to a log; whenever it ends, most
rem often because the device was not yet powered or its USB not yet ready at
rem logon, it is started again 10 s later. Closing the window stops it;
rem started by a task, the task's next repetition starts it again
rem (minute-trigger-INSTALL.txt says how to stop it).
setlocal
cd /d "%~dp0"
rem Windows' own folders alone: a DLL the vendor's DLL loads by name is
rem looked for on PATH after the program's folder, and a folder there may
rem be one users can write. The program's own folder comes first still, and
rem the installer locks it.
set "PATH=%SystemRoot%\System32;%SystemRoot%;%SystemRoot%\System32\Wbem"
set "PROGRAM=%~1"
if "%PROGRAM%"=="" set "PROGRAM=minute-trigger.exe"
rem 1.0.0's second program, which a task set up by hand may still name: an
rem upgrade removes it, and minute-trigger.exe reads its clock now.
if /i "%PROGRAM%"=="minute-trigger-precise.exe" set "PROGRAM=minute-trigger.exe"
rem A bare name is this folder's file: start would look for it on PATH too,
rem and run whatever it found there should this folder's be missing.
for %%P in ("%PROGRAM%") do if /i "%%~nxP"=="%PROGRAM%" set "PROGRAM=%~dp0%PROGRAM%"
rem The log goes beside the program where it can be written: there, for the
rem boot task, as SYSTEM, in a folder no user may add to. A folder a user may
rem not write to (the locked one, for the logon task, or one under Program
rem Files) would make cmd refuse the redirection and never start the
rem program; the log then goes into the user's own profile (each user has
rem their own, and no other user can make or hold anything there), and
rem failing that, or with no profile, nowhere: the triggers matter more.
rem What is echoed is quoted: a path may hold an & (R&D), which cmd would
rem otherwise run as a second command.
set "LOG=%~dp0minute-trigger.log"
call :writable
if not errorlevel 1 goto logging
set "LOG=nul"
if not defined LOCALAPPDATA goto logging
set "LOG=%LOCALAPPDATA%\minute-trigger\minute-trigger.log"
if not exist "%LOCALAPPDATA%\minute-trigger\" mkdir "%LOCALAPPDATA%\minute-trigger"
call :writable
if errorlevel 1 set "LOG=nul"
:logging
echo run-minute-trigger: running "%PROGRAM%" for good, its output appended to "%LOG%"
:run
rem High priority, as the Task Scheduler would otherwise run it below normal,
rem where any ordinary load takes its core; never realtime, which would starve
rem Windows' own threads. /B keeps it in this window, /WAIT gives its exit code.
rem Users may read the log, so one may hold it open without sharing: cmd
rem then refuses the redirection and runs nothing of the call, and the
rem program is started without a log this time rather than not at all.
set "STARTED="
call :start >> "%LOG%" 2>&1
if not defined STARTED start "" /B /WAIT /HIGH "%PROGRAM%" > nul 2>&1
set "STATUS=%ERRORLEVEL%"
rem The program's messages end without a line break: one first.
>> "%LOG%" echo.
>> "%LOG%" echo %DATE% %TIME% "%PROGRAM%" ended with exit code %STATUS%; starting it again in 10 s
rem ping waits about a second between its 11 echoes; timeout would need a
rem console, which a task started with no one logged on does not have. By
rem its full path: cmd looks for a bare name in the current folder first.
"%SystemRoot%\System32\ping.exe" -n 11 127.0.0.1 > nul
goto run

rem The program, its exit code the call's.
:start
set "STARTED=1"
start "" /B /WAIT /HIGH "%PROGRAM%"
exit /b %ERRORLEVEL%

rem Whether the log can be appended to, without writing anything into it:
rem a refused redirection sets the error level, and a log that is a folder,
rem or that could not be made, is refused whatever the error level says.
:writable
if exist "%LOG%\*" exit /b 1
type nul >> "%LOG%" 2> nul
if errorlevel 1 exit /b 1
if not exist "%LOG%" exit /b 1
exit /b 0
