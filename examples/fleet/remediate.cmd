@echo off
rem Remediation step: remove the matching device nodes with hwpurge.exe,
rem then check with hwpurge-preview.exe that none is left.
rem   usage: remediate.cmd "HARDWARE_ID" [RESTART_STATUS]
rem          (ID in double quotes; run elevated)
rem Standard output: hwpurge's lines, then the preview's list.
rem Exit status (remediate.ps1 exits with the same ones):
rem   0  nothing left to remove (nodes that wait for a restart count as
rem      removed; the list says so)
rem   RESTART_STATUS, when given (3010 for an install command): every node
rem      left is removed and waits for a restart
rem   1  nodes are left: a removal was refused (see stderr; not elevated?)
rem   2  cannot run: wrong command line, empty hardware ID, a program missing
rem      beside this script, or RESTART_STATUS not a number
rem   3  incomplete: the check after the removal could not examine everything
setlocal
set "restart=%~2"
if not defined restart set restart=0
for /f "delims=0123456789" %%c in ("%restart%") do (
    echo remediate.cmd: the restart status must be a number from 0 up 1>&2
    exit /b 2
)
if not exist "%~dp0hwpurge.exe" (
    echo remediate.cmd: hwpurge.exe is missing beside this script 1>&2
    exit /b 2
)
if not exist "%~dp0hwpurge-preview.exe" (
    echo remediate.cmd: hwpurge-preview.exe is missing beside this script 1>&2
    exit /b 2
)
"%~dp0hwpurge.exe" "%~1"
if errorlevel 1 exit /b %ERRORLEVEL%
rem hwpurge.exe ends with 0 whatever it removed: only a new look tells.
"%~dp0hwpurge-preview.exe" "%~1"
set status=%ERRORLEVEL%
if %status% equ 4 exit /b %restart%
if %status% lss 0 exit /b 3
if %status% gtr 4 exit /b 3
exit /b %status%
