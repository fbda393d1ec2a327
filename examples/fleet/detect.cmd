@echo off
rem Detection step: is there a device node for hwpurge to remove?
rem   usage: detect.cmd "HARDWARE_ID"  (in double quotes: hardware IDs hold ampersands)
rem Standard output is hwpurge-preview.exe's list, for the engine's log.
rem Exit status (detect.ps1 exits with the same ones):
rem   0  nothing to remove: no node matches, or every matching node is already
rem      removed and waits for a restart (the list says so)
rem   1  at least one node to remove: run the remediation step
rem   2  cannot run: wrong command line, empty hardware ID, or
rem      hwpurge-preview.exe missing beside this script
rem   3  incomplete: a failure kept the preview from examining everything
rem      (reported on stderr), or it ended in an unexpected way
setlocal
if not exist "%~dp0hwpurge-preview.exe" (
    echo detect.cmd: hwpurge-preview.exe is missing beside this script 1>&2
    exit /b 2
)
"%~dp0hwpurge-preview.exe" "%~1"
set status=%ERRORLEVEL%
rem The preview's 4: what it lists waits for a restart, nothing for hwpurge.
if %status% equ 4 exit /b 0
if %status% lss 0 exit /b 3
if %status% gtr 4 exit /b 3
exit /b %status%
