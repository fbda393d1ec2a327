# Remediation step, a relay: `hwpurge-preview --unused-packages` names the
# driver packages only the matching nodes use, hwpurge removes the nodes, plain
# `pnputil /delete-driver` deletes those that no device uses any more, and
# `hwpurge-preview --summary` gives the line and the status. Run it elevated
# (engines run it as SYSTEM, without arguments: set the defaults below). By hand:
#   powershell.exe -NoProfile -ExecutionPolicy Bypass -File remediate.ps1
#       -HardwareId "USB\VID_1A2B&PID_4100" [-ProgramFolder <folder>] [-RestartStatus 3010] [-Install]
# -Install copies both programs from this script's folder to the program folder.
# Standard output: hwpurge's lines, then the preview's line. Status, as remediate.cmd's:
# 0 nothing left; -RestartStatus when hwpurge writes a restart line, pnputil deletes a
# package but asks for a restart, or the look after it says 4; 1 nodes left (a 1 or 3
# from that look wins over -RestartStatus); 2 cannot run; 3 a look is incomplete (before
# the purge: nothing is removed) or hwpurge ended unexpectedly. Not 0: the line goes to stderr too.
param(
    [string]$HardwareId = '',
    [string]$ProgramFolder = $(if ($env:ProgramW6432) { "$env:ProgramW6432\hwpurge" } else { "$env:ProgramFiles\hwpurge" }),
    [string]$RestartStatus = '0',
    [switch]$Install
)
$ErrorActionPreference = 'Stop'
trap { [Console]::Error.WriteLine("remediate.ps1: $_"); exit 3 }
function Stop-Step([int]$Status, [string]$Why) { [Console]::Error.WriteLine("remediate.ps1: $Why"); exit $Status }
# As in detect.ps1; standard error is passed on at once, and -Show leaves stdout to the program.
function Invoke-Program([string]$Path, [string[]]$Arguments, [switch]$Show) {
    $info = New-Object System.Diagnostics.ProcessStartInfo $Path
    $info.Arguments = @($Arguments | ForEach-Object { if ($_ -and $_ -notmatch '[\s"]') { $_ } else { '"' + ($_ -replace '(\\*)"', '$1$1\"' -replace '(\\+)$', '$1$1') + '"' } }) -join ' '
    $info.UseShellExecute = $false; $info.RedirectStandardError = $true; $info.RedirectStandardOutput = -not $Show
    $info.StandardErrorEncoding = [Console]::OutputEncoding; if (-not $Show) { $info.StandardOutputEncoding = [Console]::OutputEncoding }
    $process = [System.Diagnostics.Process]::Start($info)
    $errors = $process.StandardError.ReadToEndAsync()
    $output = if ($Show) { '' } else { $process.StandardOutput.ReadToEnd() }
    $process.WaitForExit()
    [Console]::Error.Write($errors.Result)
    @{ Status = $process.ExitCode; Out = $output; Err = $errors.Result }
}
$restart = 0; $restartAsked = $false
if ($args.Count -gt 0) { Stop-Step 2 "cannot run: unknown argument $($args[0])" }
if (-not [int]::TryParse($RestartStatus, [ref]$restart) -or $restart -lt 0) { Stop-Step 2 'cannot run: -RestartStatus is a number from 0 up' }
if (-not $HardwareId) { Stop-Step 2 'cannot run: no hardware ID (set the default of -HardwareId in this script, or pass -HardwareId)' }
$folder = $ExecutionContext.SessionState.Path.GetUnresolvedProviderPathFromPSPath($ProgramFolder)
foreach ($name in 'hwpurge.exe', 'hwpurge-preview.exe') {
    if ($Install -and $folder.TrimEnd('\') -ne $PSScriptRoot.TrimEnd('\')) {
        try { [void][System.IO.Directory]::CreateDirectory($folder); Copy-Item -LiteralPath (Join-Path $PSScriptRoot $name) -Destination $folder -Force }
        catch { Stop-Step 2 "cannot run: cannot copy $name to ${folder}: $_" }
    }
    if (-not (Test-Path -LiteralPath (Join-Path $folder $name) -PathType Leaf)) { Stop-Step 2 "cannot run: no $name in $folder" }
}
$preview = Join-Path $folder 'hwpurge-preview.exe'
# Taken before the purge: afterwards the nodes and their packages are not listed.
$look = Invoke-Program $preview '--unused-packages', $HardwareId
if ($look.Status -eq 2) { exit 2 }
$stopped = $look.Status -notin 0, 1, 4
if ($stopped) { [Console]::Error.WriteLine("remediate.ps1: nothing is removed: the look before the purge ended with status $($look.Status)") }
if ($look.Status -eq 1) {
    $purge = Invoke-Program (Join-Path $folder 'hwpurge.exe') $HardwareId -Show
    if ($purge.Status -eq 2) { exit 2 }
    $restartAsked = @($purge.Err -split '\r?\n' -cmatch '^hwpurge: [0-9]+ device nodes? ((is|are) removed|may be removed only) when Windows restarts$').Count -gt 0
    if ($purge.Status -ne 0) { $stopped = $true; [Console]::Error.WriteLine("remediate.ps1: hwpurge.exe ended with status $($purge.Status); no driver package is deleted") }
}
# Straight after the purge, before a restart finds a device again and reinstalls its
# package; the 64-bit pnputil (from a 32-bit PowerShell only Sysnative reaches it); plain
# /delete-driver, which Windows refuses while a device uses the package. "PnPUtil Return
# Values": 0 success; 3010 success, a restart needed; 1641 success, a restart under way.
$pnputil = Join-Path $env:windir 'Sysnative\pnputil.exe'
if (-not (Test-Path -LiteralPath $pnputil)) { $pnputil = Join-Path $env:windir 'System32\pnputil.exe' }
foreach ($inf in @(if (-not $stopped) { $look.Out -split '\r?\n' | Where-Object { $_ } })) {
    if ($inf -cnotmatch '^[Oo][Ee][Mm][0-9]+\.[Ii][Nn][Ff]$') { [Console]::Error.WriteLine("remediate.ps1: not a third-party driver package, left alone: $inf"); continue }
    $delete = Invoke-Program $pnputil '/delete-driver', $inf
    $note = if ($delete.Status -eq 0) { "deleted the driver package $inf" } elseif ($delete.Status -in 3010, 1641) {
        $restartAsked = $true; "deleted the driver package $inf; pnputil ended with status $($delete.Status): a restart is needed"
    } else { "$inf could not be deleted (status $($delete.Status)); it stays in the driver store" }
    [Console]::Error.WriteLine("remediate.ps1: $note")
}
$final = Invoke-Program $preview '--summary', $HardwareId
[Console]::Out.Write($final.Out)
$status = if ($final.Status -in 0, 1, 2) { $final.Status } elseif ($final.Status -eq 4) { $restart } else { 3 }
if ($status -eq 0 -and $restartAsked) { $status = $restart }
if ($stopped) { $status = 3 }
if ($status -ne 0) { [Console]::Error.Write($final.Out) }
exit $status
