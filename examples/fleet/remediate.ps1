# Remediation step: remove the device nodes hwpurge removes for one hardware
# ID, then look again. Run elevated (Intune and Configuration Manager run it as
# SYSTEM).
#
# For Intune Remediations (no arguments: edit the defaults below, the hardware
# ID at least, in the copy you upload) and as the install command of an Intune
# Win32 app or a Configuration Manager deployment type:
#
#   powershell.exe -NoProfile -ExecutionPolicy Bypass -File remediate.ps1
#       -HardwareId "USB\VID_1A2B&PID_4100" [-ProgramFolder <folder>]
#       [-RestartStatus 3010] [-Install]
#
# -Install first copies hwpurge.exe and hwpurge-preview.exe from this script's
# folder into the program folder, where an app's detection script finds them.
# hwpurge runs only when the preview lists a node to remove (or could not
# finish its look). Standard output: hwpurge's own lines, then one summary
# line. Status:
#   0  nothing left to remove (nodes removed that wait for a restart count as
#      removed: the line names them)
#   -RestartStatus, when given (3010 for an install command: a soft reboot):
#      every node left is removed and waits for a restart
#   1  nodes are left: a removal was refused (hwpurge's report is on standard
#      error; not elevated?)
#   2  cannot run: no hardware ID, a wrong argument, a program missing or not
#      copied, or a command line hwpurge refused (the line goes to standard
#      error too)
#   3  incomplete: the look after the removal could not examine everything
#
# Windows PowerShell 5.1 or PowerShell 7; no modules. remediate.cmd is the same
# step for cmd.exe, with the same statuses.
# Each engine takes one script on its own, so the helpers below are also in
# detect.ps1: a change to one belongs in both.
param(
    [string]$HardwareId = '',
    [string]$ProgramFolder = $(if ($env:ProgramW6432) { "$env:ProgramW6432\hwpurge" } else { "$env:ProgramFiles\hwpurge" }),
    [string]$RestartStatus = '0',
    [switch]$Install
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

# The nodes a look lists as to remove, by instance ID (the matched entry
# when the instance ID could not be read).
function Get-Key($Node) {
    if ($Node.instanceId) { [string]$Node.instanceId } else { '[' + $Node.hardwareId + ']' }
}

# The removal and the look after it: the status and the summary line.
function Invoke-Remediation([object[]]$Extra) {
    if ($Extra.Count -gt 0) {
        return @{ Status = 2; Line = 'cannot run: unknown argument ' + $Extra[0] }
    }
    $restart = 0
    if (-not [int]::TryParse($RestartStatus, [ref]$restart) -or $restart -lt 0) {
        return @{ Status = 2; Line = 'cannot run: -RestartStatus is a number from 0 up' }
    }
    if (-not $HardwareId) {
        return @{ Status = 2; Line = 'cannot run: no hardware ID (set the default of -HardwareId in this script, or pass -HardwareId)' }
    }
    try {
        $folder = [System.IO.Path]::GetFullPath([System.IO.Path]::Combine((Get-Location).ProviderPath, $ProgramFolder))
    } catch {
        return @{ Status = 2; Line = 'cannot run: -ProgramFolder ' + $ProgramFolder + ': ' + $_.Exception.Message }
    }
    $programs = 'hwpurge.exe', 'hwpurge-preview.exe'
    if ($Install -and $folder.TrimEnd('\') -ne $PSScriptRoot.TrimEnd('\')) {
        try {
            [void][System.IO.Directory]::CreateDirectory($folder)
            foreach ($name in $programs) {
                [System.IO.File]::Copy([System.IO.Path]::Combine($PSScriptRoot, $name), [System.IO.Path]::Combine($folder, $name), $true)
            }
        } catch {
            return @{ Status = 2; Line = 'cannot run: cannot copy the programs to ' + $folder + ': ' + $_.Exception.Message }
        }
    }
    foreach ($name in $programs) {
        if (-not [System.IO.File]::Exists([System.IO.Path]::Combine($folder, $name))) {
            return @{ Status = 2; Line = 'cannot run: no ' + $name + ' in ' + $folder }
        }
    }
    $preview = [System.IO.Path]::Combine($folder, 'hwpurge-preview.exe')

    $before = Read-Preview $preview $HardwareId
    if ($before.Status -eq 2) {
        return @{ Status = 2; Line = 'cannot run: hwpurge-preview.exe refused the command line' }
    }
    $after = $before
    $purged = $false
    if ($null -eq $before.Document -or ($before.Status -ne 0 -and $before.Status -ne 4)) {
        $purge = Invoke-Program ([System.IO.Path]::Combine($folder, 'hwpurge.exe')) @($HardwareId)
        if ($purge.Status -eq 2) {
            return @{ Status = 2; Line = 'cannot run: hwpurge.exe refused the command line' }
        }
        # hwpurge ends with 0 whatever it removed: only a new look tells.
        $after = Read-Preview $preview $HardwareId
        $purged = $true
    }
    $status = switch ($after.Status) { 0 { 0 } 1 { 1 } 4 { $restart } default { 3 } }
    if ($null -eq $after.Document) {
        $status = 3
    }

    $left = @(Get-Node $after.Document $false)
    $waiting = @(Get-Node $after.Document $true)
    $leftKeys = @($left | ForEach-Object { Get-Key $_ })
    $removed = @(Get-Node $before.Document $false | Where-Object { $leftKeys -notcontains (Get-Key $_) })
    $parts = @()
    if ($purged -and $removed.Count -gt 0) {
        $parts += Format-Node $removed 'removed {0}'
    }
    if ($waiting.Count -gt 0) {
        $parts += Format-Node $waiting '{0} waiting for a restart'
    }
    if ($left.Count -gt 0) {
        $parts += Format-Node $left '{0} left'
    }
    if ($status -eq 3) {
        $parts += 'incomplete: ' + (Format-Incomplete $after)
    } elseif ($parts.Count -eq 0) {
        $parts += 'no device node matches'
    }
    @{ Status = $status; Line = $parts -join '; ' }
}

try {
    $result = Invoke-Remediation $args
} catch {
    $result = @{ Status = 3; Line = 'incomplete: ' + $_.Exception.Message }
}
$prefix = if ($HardwareId) { $HardwareId + ': ' } else { '' }
if ($result.Status -eq 2) {
    [Console]::Error.WriteLine($prefix + $result.Line)
}
Write-Output ($prefix + $result.Line)
exit $result.Status
