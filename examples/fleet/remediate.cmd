@echo off
rem Remediation step: remove the matching device nodes with hwpurge.exe,
rem then check with hwpurge-preview.exe that none is left.
rem   usage: remediate.cmd "HARDWARE_ID"  (in double quotes; run elevated)
rem Exit status:
rem   0  no node matches any more
rem   1  nodes are left: a removal was refused (see stderr; not elevated?)
rem   2  wrong command line or empty hardware ID
rem   3  the check after the removal could not examine every node
setlocal
"%~dp0hwpurge.exe" "%~1"
if errorlevel 1 exit /b %ERRORLEVEL%
rem hwpurge.exe ends with 0 whatever it removed: only a new look tells.
"%~dp0hwpurge-preview.exe" "%~1"
exit /b %ERRORLEVEL%
