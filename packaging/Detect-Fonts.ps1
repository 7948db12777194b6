# Detection script for an Intune Win32 app (custom detection script) and a
# Configuration Manager deployment type (script detection method).
# It writes a line and exits 0 only when every font listed below is registered
# under the title with the path of its copy in the Fonts folder, and that copy
# has the SHA-256 of the version you deploy. Otherwise it writes nothing (not
# detected). A machine with an older version, a copy that failed (a font in
# use), or a registration without a file is therefore not detected.
#
# Fill in $Title and $Fonts for each version of your package. In the bundle
# folder, this prints the lines for $Fonts:
#   Get-FileHash -Algorithm SHA256 .\Font\*.ttf | ForEach-Object { "    '{0}' = '{1}'" -f (Split-Path $_.Path -Leaf), $_.Hash }
$Title = 'ContosoBrand'
$Fonts = @{
    'ContosoSans-Regular.ttf' = '0000000000000000000000000000000000000000000000000000000000000000'
    'ContosoSans-Bold.ttf'    = '0000000000000000000000000000000000000000000000000000000000000000'
}

$key = 'HKLM:\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Fonts'
$fontsFolder = Join-Path $env:SystemRoot 'Fonts'
foreach ($name in $Fonts.Keys) {
    $copy = Join-Path $fontsFolder $name
    $valueName = '{0} {1}' -f $Title, [IO.Path]::GetFileNameWithoutExtension($name)
    $registered = Get-ItemProperty -LiteralPath $key -Name $valueName -ErrorAction SilentlyContinue
    if ($null -eq $registered -or $registered.$valueName -ne $copy) { exit 0 }
    if (-not (Test-Path -LiteralPath $copy -PathType Leaf)) { exit 0 }
    if ((Get-FileHash -Algorithm SHA256 -LiteralPath $copy).Hash -ne $Fonts[$name]) { exit 0 }
}
Write-Output "Detected: $Title"
exit 0
