@echo off
rem Remediation step, a relay: hwpurge-preview.exe --unused-packages names the
rem driver packages only the matching nodes use, hwpurge.exe removes the nodes,
rem plain "pnputil /delete-driver" deletes those that no device uses any more,
rem and hwpurge-preview.exe --summary gives the line and the status.
rem   usage: remediate.cmd "HARDWARE_ID" [RESTART_STATUS]
rem          (the ID in double quotes; run elevated)
rem Standard output: hwpurge's lines, then the preview's line, last.
rem Exit status (remediate.ps1 ends with the same ones):
rem   0  nothing left to remove
rem   RESTART_STATUS (default 0; 3010 for an install command) when hwpurge
rem      writes one of its restart lines, pnputil deleted a package but asks
rem      for a restart, or the look after it says every node it lists waits
rem      for a restart (the preview's 4)
rem   1  nodes are left: a removal was refused (see stderr; not elevated?)
rem   2  cannot run: wrong command line, empty hardware ID, a program missing
rem      beside this script, RESTART_STATUS not a number, or no folder of its
rem      own could be made under %TEMP%
rem   3  incomplete: the look before the purge could not examine everything
rem      (then nothing is removed), hwpurge ended in an unexpected way, or the
rem      look after it is incomplete
rem A 1 or a 3 from the look after the purge wins over the restart status.
rem With a status other than 0 the line goes to standard error too.
setlocal EnableExtensions DisableDelayedExpansion
set "restart=%~2"
if not defined restart set restart=0
call :number restart
if errorlevel 1 (
    >&2 echo remediate.cmd: the restart status must be a number from 0 up
    exit /b 2
)
if not exist "%~dp0hwpurge.exe" (
    >&2 echo remediate.cmd: hwpurge.exe is missing beside this script
    exit /b 2
)
if not exist "%~dp0hwpurge-preview.exe" (
    >&2 echo remediate.cmd: hwpurge-preview.exe is missing beside this script
    exit /b 2
)
rem The ID goes to the programs in double quotes, where the C runtime reads
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
set "id=%id%%slashes%"

rem A folder of its own for the scratch files, made by this run: mkdir fails
rem where anything of that name exists, and then another name is tried.
if not defined TEMP set "TEMP=%~dp0."
set tries=0
:scratch
set /a tries+=1
set "scratch=%TEMP%\hwpurge-%RANDOM%%RANDOM%-%RANDOM%"
mkdir "%scratch%" 2>nul
if not errorlevel 1 goto made
if %tries% lss 10 goto scratch
>&2 echo remediate.cmd: cannot make a folder of its own under "%TEMP%"
exit /b 2
:made
set status=3
set stopped=
set restartline=
set pnprestart=

rem Taken before the purge: afterwards the nodes and their packages are not listed.
"%~dp0hwpurge-preview.exe" --unused-packages "%id%" >"%scratch%\packages.txt"
set look=%ERRORLEVEL%
if %look% equ 2 (
    set status=2
    goto end
)
if %look% equ 1 goto purge
if %look% equ 0 goto packages
if %look% equ 4 goto packages
set stopped=1
>&2 echo remediate.cmd: nothing is removed: the look before the purge ended with status %look%
goto summary

:purge
"%~dp0hwpurge.exe" "%id%" 2>"%scratch%\errors.txt"
set purged=%ERRORLEVEL%
type "%scratch%\errors.txt" 1>&2
if %purged% equ 2 (
    set status=2
    goto end
)
rem hwpurge's last lines when a removal finishes only at the next restart,
rem either of them (N a number of one to nine digits):
rem   "hwpurge: N device node(s) is/are removed when Windows restarts"
rem   "hwpurge: N device node(s) may be removed only when Windows restarts"
rem Each line's second word that is a number is tried in :restartline, which
rem looks for a line that is exactly one of them.
for /f "usebackq tokens=2" %%n in ("%scratch%\errors.txt") do (
    set "count=%%n"
    call :restartline
)
if %purged% equ 0 goto packages
set stopped=1
>&2 echo remediate.cmd: hwpurge.exe ended with status %purged%; no driver package is deleted
goto summary

:packages
rem Straight after the purge, before a restart finds a device again and
rem reinstalls its package. The 64-bit pnputil: from a 32-bit cmd.exe only
rem Sysnative reaches it. Plain /delete-driver: Windows refuses while a device
rem still uses the package, which then stays.
set "pnputil=%SystemRoot%\System32\pnputil.exe"
if exist "%SystemRoot%\Sysnative\pnputil.exe" set "pnputil=%SystemRoot%\Sysnative\pnputil.exe"
for /f "usebackq delims=" %%p in ("%scratch%\packages.txt") do (
    set "inf=%%p"
    call :delete
    if errorlevel 1 set pnprestart=1
)

:summary
"%~dp0hwpurge-preview.exe" --summary "%id%" >"%scratch%\summary.txt"
set after=%ERRORLEVEL%
type "%scratch%\summary.txt"
if %after% equ 0 set status=0
if %after% equ 1 set status=1
if %after% equ 2 set status=2
if %after% equ 3 set status=3
if %after% equ 4 set status=%restart%
if %after% lss 0 >&2 echo remediate.cmd: hwpurge-preview.exe ended with status %after%
if %after% gtr 4 >&2 echo remediate.cmd: hwpurge-preview.exe ended with status %after%
if %status% equ 0 if defined restartline set status=%restart%
if %status% equ 0 if defined pnprestart set status=%restart%
if defined stopped set status=3
if %status% neq 0 type "%scratch%\summary.txt" 1>&2

:end
rd /s /q "%scratch%" 2>nul
exit /b %status%

rem Sets restartline when a line of hwpurge's standard error is exactly one of
rem its restart lines with the number in the variable count. (A for /f over a
rem for variable's text, which would read the line once, does not work in
rem Wine's cmd.exe.)
:restartline
call :number count
if errorlevel 1 exit /b 0
for /f "usebackq delims=" %%l in ("%scratch%\errors.txt") do for %%w in ("node is" "node are" "nodes is" "nodes are") do (
    if "%%l"=="hwpurge: %count% device %%~w removed when Windows restarts" set restartline=1
)
for /f "usebackq delims=" %%l in ("%scratch%\errors.txt") do for %%w in ("node" "nodes") do (
    if "%%l"=="hwpurge: %count% device %%~w may be removed only when Windows restarts" set restartline=1
)
exit /b 0

rem Deletes the driver package named by the variable inf when it is a
rem third-party one: "oem", digits, ".inf", ASCII letter case ignored.
rem Nothing else reaches pnputil. Ends with 1 when pnputil deleted it but asks
rem for a restart, else 0. "PnPUtil Return Values": 0 is success, 3010
rem success with a restart needed, 1641 success with a restart under way
rem (only with /reboot, never given here); any other status: not deleted.
rem Its quotes go first, so that no character in it can end a quoted string.
:delete
set "inf=%inf:"=%"
setlocal EnableDelayedExpansion
set "head="
set "tail="
for %%v in (oem oeM oEm oEM Oem OeM OEm OEM) do if "%inf:~0,3%"=="%%v" set head=1
for %%v in (.inf .inF .iNf .iNF .Inf .InF .INf .INF) do if "%inf:~-4%"=="%%v" set tail=1
set "digits=%inf:~3,-4%"
if not defined head goto notpackage
if not defined tail goto notpackage
call :number digits
if errorlevel 1 goto notpackage
"%pnputil%" /delete-driver %inf% >nul 2>&1
set code=!ERRORLEVEL!
set again=0
if !code! equ 3010 set again=1
if !code! equ 1641 set again=1
if !code! equ 0 >&2 echo remediate.cmd: deleted the driver package !inf!
if !again! equ 1 >&2 echo remediate.cmd: deleted the driver package !inf!; pnputil ended with status !code!: a restart is needed
if !code! neq 0 if !again! equ 0 >&2 echo remediate.cmd: !inf! could not be deleted ^(status !code!^); it stays in the driver store
endlocal & exit /b %again%
:notpackage
>&2 echo remediate.cmd: not a third-party driver package, left alone: !inf!
endlocal
exit /b 0

rem Ends with 0 when the variable it is given holds one to nine ASCII digits
rem and nothing else: set /a reads a 1 put before them back as the same text.
:number
if not defined %1 exit /b 1
setlocal EnableDelayedExpansion
set "value="
set /a "value=1!%1!" >nul 2>&1
if not defined value exit /b 1
if not "!value!"=="1!%1!" exit /b 1
exit /b 0
