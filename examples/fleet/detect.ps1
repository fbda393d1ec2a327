# Detection step: is there a device node for hwpurge to remove? It relays
# `hwpurge-preview.exe --summary <ID>`: the preview's one line and its status.
#
# For Intune Remediations (the default mode) and, with -Mode Application, as
# the detection script of an Intune Win32 app or a Configuration Manager
# deployment type. Those engines run it without arguments: set the defaults
# below (the hardware ID at least) in the copy you upload. By hand:
#   powershell.exe -NoProfile -ExecutionPolicy Bypass -File detect.ps1
#       -HardwareId "USB\VID_1A2B&PID_4100" [-ProgramFolder <folder>] [-Mode Application]
#
# -Mode Remediation: the preview's line on standard output, and the status
#   0  nothing to remove: the preview's 0, or its 4 (every node it lists
#      waits for a restart: nothing to remediate)
#   1  at least one node to remove: Intune runs the remediation script
#   2  cannot run: no hardware ID, a wrong argument, no hwpurge-preview.exe
#   3  incomplete: the preview could not examine everything (the line says
#      why), or it ended with a status it never gives
#   The preview's standard error is passed on only with a status other than 0.
# -Mode Application ("installed" means "nothing left to remove"): the line and
#   0 when nothing is left (detected); 0 and no output at all when nodes are to
#   be removed, or before the first install (no hwpurge-preview.exe yet: not
#   detected); 2 and 3 with everything on standard error only.
# Windows PowerShell 5.1 or 7; docs/fleet.md gives each engine's command lines.
param(
    [string]$HardwareId = '',
    [string]$ProgramFolder = $(if ($env:ProgramW6432) { "$env:ProgramW6432\hwpurge" } else { "$env:ProgramFiles\hwpurge" }),
    [string]$Mode = 'Remediation'
)
$ErrorActionPreference = 'Stop'
# Anything unforeseen is an incomplete look, never a 1 (which remediates).
trap { [Console]::Error.WriteLine("detect.ps1: $_"); exit 3 }

# Runs a program and returns its status, standard output and standard error,
# read and written in the console's code page so that their bytes pass as
# they are. An argument is quoted by the C runtime's rules only where it
# holds a blank or a quote, so that the program sees the hardware ID exactly.
function Invoke-Program([string]$Path, [string[]]$Arguments) {
    $info = New-Object System.Diagnostics.ProcessStartInfo $Path
    $info.Arguments = @($Arguments | ForEach-Object { if ($_ -and $_ -notmatch '[\s"]') { $_ } else { '"' + ($_ -replace '(\\*)"', '$1$1\"' -replace '(\\+)$', '$1$1') + '"' } }) -join ' '
    $info.UseShellExecute = $false; $info.RedirectStandardOutput = $true; $info.RedirectStandardError = $true
    $info.StandardOutputEncoding = [Console]::OutputEncoding
    $info.StandardErrorEncoding = [Console]::OutputEncoding
    $process = [System.Diagnostics.Process]::Start($info)
    $errors = $process.StandardError.ReadToEndAsync()
    $output = $process.StandardOutput.ReadToEnd()
    $process.WaitForExit()
    @{ Status = $process.ExitCode; Out = $output; Err = $errors.Result }
}

$preview = Join-Path $ExecutionContext.SessionState.Path.GetUnresolvedProviderPathFromPSPath($ProgramFolder) 'hwpurge-preview.exe'
$run = @{ Status = 2; Out = ''; Err = '' }
if ($args.Count -gt 0 -or ($Mode -ne 'Remediation' -and $Mode -ne 'Application')) {
    $run.Err = "detect.ps1: cannot run: unknown argument $args, or -Mode neither Remediation nor Application`r`n"
} elseif (-not $HardwareId) {
    $run.Err = "detect.ps1: cannot run: no hardware ID (set the default of -HardwareId in this script, or pass -HardwareId)`r`n"
} elseif (-not (Test-Path -LiteralPath $preview -PathType Leaf)) {
    # Before an app's first install the program is not there: not detected.
    if ($Mode -eq 'Application') { exit 0 }
    $run.Err = "detect.ps1: cannot run: no $preview`r`n"
} else {
    $run = Invoke-Program $preview '--summary', $HardwareId
    if ($run.Status -lt 0 -or $run.Status -gt 4) {
        $run.Err += "detect.ps1: hwpurge-preview.exe ended with status $($run.Status)`r`n"
    }
}
$status = switch ($run.Status) {
    0 { 0 }
    1 { 1 }
    2 { 2 }
    4 { 0 }
    default { 3 }
}
if ($Mode -eq 'Application') {
    if ($status -eq 0) { [Console]::Out.Write($run.Out) }
    if ($status -gt 1) { [Console]::Error.Write($run.Out + $run.Err) }
    exit $(if ($status -eq 1) { 0 } else { $status })
}
[Console]::Out.Write($run.Out)
if ($status -ne 0) { [Console]::Error.Write($run.Err) }
exit $status
