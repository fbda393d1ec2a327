@echo off
rem Detection step: would hwpurge remove a device node for this hardware ID?
rem   usage: detect.cmd "HARDWARE_ID"  (in double quotes: hardware IDs hold ampersands)
rem Exit status, that of hwpurge-preview.exe beside this script:
rem   0  no node matches: nothing to do
rem   1  at least one node matches: run the remediation step
rem   2  wrong command line or empty hardware ID
rem   3  a failure kept it from examining every node (reported on stderr)
rem Standard output lists the nodes, for the engine's log.
setlocal
"%~dp0hwpurge-preview.exe" "%~1"
exit /b %ERRORLEVEL%
