# Detection step: is there a device node for hwpurge to remove?
#
# For Intune Remediations (the default mode) and, with -Mode Application, as
# the detection script of an Intune Win32 app or a Configuration Manager
# deployment type. Those engines run it with no arguments: edit the defaults
# below (the hardware ID at least) in the copy you upload. By hand:
#
#   powershell.exe -NoProfile -ExecutionPolicy Bypass -File detect.ps1
#       -HardwareId "USB\VID_1A2B&PID_4100" [-ProgramFolder <folder>]
#       [-Mode Remediation|Application]
#
# -Mode Remediation: one summary line on standard output, and the status
#   0  nothing to remove: no node matches, or every matching node is already
#      removed and waits for a restart
#   1  at least one node to remove: Intune runs the remediation script
#   2  cannot run: no hardware ID, a wrong argument, or hwpurge-preview.exe
#      missing from the program folder (the line goes to standard error too)
#   3  incomplete: a failure kept the preview from examining everything (its
#      report is on standard error), or it ended in an unexpected way
# -Mode Application ("installed" means "nothing left to remove"): the summary
#   line and 0 when nothing is left to remove (detected); no output at all and
#   0 when nodes are to be removed or the program folder has no
#   hwpurge-preview.exe yet (not detected: the install command runs); 2 and 3
#   as above, with the line on standard error only.
#
# Windows PowerShell 5.1 or PowerShell 7; no modules. detect.cmd is the same
# step for cmd.exe, with the same statuses.
# Each engine takes one script on its own, so the helpers below are also in
# remediate.ps1: a change to one belongs in both.
param(
    [string]$HardwareId = '',
    [string]$ProgramFolder = $(if ($env:ProgramW6432) { "$env:ProgramW6432\hwpurge" } else { "$env:ProgramFiles\hwpurge" }),
    [string]$Mode = 'Remediation'
)

$ErrorActionPreference = 'Stop'

# One argument as the C runtime splits a command line: in double quotes, a
# double quote escaped, backslashes doubled where a quote follows them. The
# programs then see the hardware ID exactly, whatever PowerShell's own
# native-argument passing (which differs between 5.1 and 7) would make of it.
function ConvertTo-Argument([string]$Text) {
    '"' + ($Text -replace '(\\*)"', '$1$1\"' -replace '(\\+)$', '$1$1') + '"'
}

# Runs a program; with -Capture its standard output is returned, read as
# UTF-8 (the preview writes its JSON in UTF-8 whatever the code page). What
# is not captured goes straight to this script's standard output and error.
function Invoke-Program([string]$Path, [string[]]$Arguments, [switch]$Capture) {
    $info = New-Object System.Diagnostics.ProcessStartInfo
    $info.FileName = $Path
    $info.Arguments = @($Arguments | ForEach-Object { ConvertTo-Argument $_ }) -join ' '
    $info.UseShellExecute = $false
    $info.RedirectStandardOutput = $Capture.IsPresent
    if ($Capture) {
        $info.StandardOutputEncoding = New-Object System.Text.UTF8Encoding -ArgumentList $false
    }
    $process = [System.Diagnostics.Process]::Start($info)
    $output = ''
    if ($Capture) {
        $output = $process.StandardOutput.ReadToEnd()
    }
    $process.WaitForExit()
    @{ Status = $process.ExitCode; Output = $output }
}

# hwpurge-preview --json: its status and its document ($null when none parses).
function Read-Preview([string]$Preview, [string]$Id) {
    $run = Invoke-Program $Preview @('--json', $Id) -Capture
    $document = $null
    if ($run.Output.Trim() -ne '') {
        try {
            $document = $run.Output | ConvertFrom-Json
        } catch {
            $document = $null
        }
    }
    @{ Status = $run.Status; Document = $document }
}

# The listed nodes that wait for a restart, or those that do not: the ones
# hwpurge would remove now. A preview without waitingForRestart has none waiting.
function Get-Node($Document, [bool]$Waiting) {
    @($Document.devices | Where-Object { $null -ne $_ -and [bool]$_.waitingForRestart -eq $Waiting })
}

function Get-Label($Node) {
    $label = if ($Node.instanceId) { [string]$Node.instanceId } else { '[' + $Node.hardwareId + ']' }
    if ($Node.name) {
        $label += ' "' + $Node.name + '"'
    }
    $label
}

# "2 device nodes to remove: A, B", at most ten labels.
function Format-Node([object[]]$Nodes, [string]$What) {
    $count = if ($Nodes.Count -eq 1) { '1 device node' } else { '{0} device nodes' -f $Nodes.Count }
    $labels = @($Nodes | Select-Object -First 10 | ForEach-Object { Get-Label $_ })
    if ($Nodes.Count -gt 10) {
        $labels += 'and {0} more' -f ($Nodes.Count - 10)
    }
    ($What -f $count) + ': ' + ($labels -join ', ')
}

# Error codes as the programs write them: decimal, or hex from 0x10000 on.
function Format-Code($Code) {
    $value = [long]$Code
    if ($value -ge 0 -and $value -lt 0x10000) { [string]$value } else { '0x{0:X8}' -f $value }
}

# What kept the preview from a complete answer: its first failure.
function Format-Incomplete($Run) {
    $failures = @($Run.Document.failures | Where-Object { $null -ne $_ })
    if ($failures.Count -eq 0) {
        $failures = @($Run.Document.devices | ForEach-Object { $_.failures } | Where-Object { $null -ne $_ })
    }
    if ($failures.Count -eq 0) {
        return 'hwpurge-preview.exe ended with status {0}' -f $Run.Status
    }
    $text = '{0} failed with error {1}' -f $failures[0].operation, (Format-Code $failures[0].code)
    if ($failures.Count -eq 2) {
        $text += ' and 1 more failure'
    } elseif ($failures.Count -gt 2) {
        $text += ' and {0} more failures' -f ($failures.Count - 1)
    }
    $text
}

# The look: its status and its summary line (no line: nothing to write).
function Get-Detection([object[]]$Extra) {
    if ($Extra.Count -gt 0) {
        return @{ Status = 2; Line = 'cannot run: unknown argument ' + $Extra[0] }
    }
    if ($Mode -ne 'Remediation' -and $Mode -ne 'Application') {
        return @{ Status = 2; Line = 'cannot run: -Mode is Remediation or Application' }
    }
    if (-not $HardwareId) {
        return @{ Status = 2; Line = 'cannot run: no hardware ID (set the default of -HardwareId in this script, or pass -HardwareId)' }
    }
    try {
        $folder = [System.IO.Path]::GetFullPath([System.IO.Path]::Combine((Get-Location).ProviderPath, $ProgramFolder))
    } catch {
        return @{ Status = 2; Line = 'cannot run: -ProgramFolder ' + $ProgramFolder + ': ' + $_.Exception.Message }
    }
    $preview = [System.IO.Path]::Combine($folder, 'hwpurge-preview.exe')
    if (-not [System.IO.File]::Exists($preview)) {
        if ($Mode -eq 'Application') {
            # Before the app's first install the program is not there: not detected.
            return @{ Status = 0; Line = '' }
        }
        return @{ Status = 2; Line = 'cannot run: no hwpurge-preview.exe in ' + $folder }
    }

    $run = Read-Preview $preview $HardwareId
    if ($run.Status -eq 2) {
        # The preview said why on standard error.
        return @{ Status = 2; Line = 'cannot run: hwpurge-preview.exe refused the command line' }
    }
    $status = switch ($run.Status) { 0 { 0 } 1 { 1 } 4 { 0 } default { 3 } }
    if ($null -eq $run.Document) {
        $status = 3
    }
    if ($Mode -eq 'Application' -and $status -eq 1) {
        return @{ Status = 0; Line = '' }
    }
    $toRemove = @(Get-Node $run.Document $false)
    $waiting = @(Get-Node $run.Document $true)
    $parts = @()
    if ($toRemove.Count -gt 0) {
        $parts += Format-Node $toRemove '{0} to remove'
    }
    if ($waiting.Count -gt 0) {
        $parts += Format-Node $waiting '{0} waiting for a restart'
    }
    if ($status -eq 3) {
        $parts += 'incomplete: ' + (Format-Incomplete $run)
    } elseif ($parts.Count -eq 0) {
        $parts += 'no device node matches'
    }
    @{ Status = $status; Line = $parts -join '; ' }
}

try {
    $result = Get-Detection $args
} catch {
    $result = @{ Status = 3; Line = 'incomplete: ' + $_.Exception.Message }
}
# Application mode writes only "detected" (0 and a line) to standard output,
# and a failure to standard error; "not detected" is 0 with no output.
$prefix = if ($HardwareId) { $HardwareId + ': ' } else { '' }
if ($result.Status -eq 2 -or ($Mode -eq 'Application' -and $result.Status -ne 0)) {
    [Console]::Error.WriteLine($prefix + $result.Line)
}
if ($result.Line -and ($Mode -ne 'Application' -or $result.Status -eq 0)) {
    Write-Output ($prefix + $result.Line)
}
exit $result.Status
