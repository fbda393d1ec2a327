@echo off
rem Detection step: is there a device node for hwpurge to remove? It relays
rem hwpurge-preview.exe --summary: the preview's one line and its status.
rem   usage: detect.cmd "HARDWARE_ID"  (in double quotes: hardware IDs hold ampersands)
rem Standard output: the preview's line; its standard error passes as it is.
rem Exit status (detect.ps1 ends with the same ones):
rem   0  nothing to remove: the preview's 0, or its 4 (every node it lists
rem      waits for a restart: nothing to remediate)
rem   1  at least one node to remove: run the remediation step
rem   2  cannot run: wrong command line, empty hardware ID, or
rem      hwpurge-preview.exe missing beside this script
rem   3  incomplete: the preview could not examine everything (the line says
rem      why), or it ended with a status it never gives
setlocal EnableExtensions DisableDelayedExpansion
if not exist "%~dp0hwpurge-preview.exe" (
    >&2 echo detect.cmd: hwpurge-preview.exe is missing beside this script
    exit /b 2
)
rem The ID goes to the preview in double quotes, where the C runtime reads
rem backslashes before the closing quote in pairs ("Parsing C command-line
rem arguments"): each one at its end is doubled, so that "USB\" arrives as
rem USB\ and not as USB". Inside the quotes & ^ and blanks stay as they are.
set "id=%~1"
set "slashes="
:trailing
if not defined id goto quoted
if not "%id:~-1%"=="\" goto quoted
set "id=%id:~0,-1%"
set "slashes=%slashes%\\"
goto trailing
:quoted
"%~dp0hwpurge-preview.exe" --summary "%id%%slashes%"
set status=%ERRORLEVEL%
if %status% equ 4 exit /b 0
if %status% geq 0 if %status% leq 3 exit /b %status%
>&2 echo detect.cmd: hwpurge-preview.exe ended with status %status%
exit /b 3
