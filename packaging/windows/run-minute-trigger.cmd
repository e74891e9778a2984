@echo off
rem Runs minute-trigger.exe from this folder for good (or the program named
rem as the first argument, such as minute-trigger-precise.exe): its output is
rem appended to minute-trigger.log here, and whenever it ends, most often
rem because the device was not yet powered or its USB not yet ready at
rem logon, it is started again 10 s later. Closing the window, or ending
rem the task, stops it.
setlocal
cd /d "%~dp0"
set "PROGRAM=%~1"
if "%PROGRAM%"=="" set "PROGRAM=minute-trigger.exe"
set "LOG=%~dp0minute-trigger.log"
:run
"%~dp0%PROGRAM%" >> "%LOG%" 2>&1
set "STATUS=%ERRORLEVEL%"
rem The program's messages end without a line break: one first.
>> "%LOG%" echo.
>> "%LOG%" echo %DATE% %TIME% %PROGRAM% ended with exit code %STATUS%; starting it again in 10 s
rem ping waits about a second between its 11 echoes; timeout would need a
rem console, which a task started with no one logged on does not have.
ping -n 11 127.0.0.1 > nul
goto run
