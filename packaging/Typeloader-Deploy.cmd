@echo off
rem Typeloader-Deploy.cmd install "<title>"  or  uninstall "<title>"
rem Runs Typeloader.exe beside this file for a fleet tool, appends a record to
rem %ProgramData%\Typeloader\Typeloader-Deploy.log and exits 3010 (changed:
rem restart), 0 (nothing to change), 1 (failed) or 2 (usage; title refused).
setlocal EnableExtensions DisableDelayedExpansion
set "here=%~dp0"
set "folder=%ProgramData%\Typeloader"
set "log=%folder%\Typeloader-Deploy.log"
rem Users may make folders in ProgramData: a link or junction there would send
rem these elevated writes elsewhere, so a linked log folder stops the job.
set "attributes=-"
for %%d in ("%folder%") do set "attributes=-%%~ad"
if not "%attributes:l=%"=="%attributes%" goto linked
if not exist "%folder%\" mkdir "%folder%"
set job=%1
set title=%2
set extra=%3
if defined extra goto usage
if not defined title goto usage
rem With each quote removed or turned into "=" the values are safe between
rem quotes; the title may only be wrapped in one pair of quotes.
set "job=%job:"==%"
set "marked=%title:"==%"
set "title=%title:"=%"
if /i not "%job%"=="install" if /i not "%job%"=="uninstall" goto usage
if not defined title goto usage
if not "%marked%"=="%title%" if not "%marked%"=="=%title%=" goto refused
set "head="
for /f "eol=%% delims=%%^&|<>!" %%a in ("%title%") do set "head=%%a"
if not "%head%"=="%title%" goto refused
set "word=Install"
set "option="
if /i "%job%"=="uninstall" set "word=Uninstall"
if /i "%job%"=="uninstall" set "option=/uninstall"
set "out=%folder%\Typeloader-Deploy-%RANDOM%.out"
set "bad="
set "changed="
>>"%log%" echo ==== %date% %time% %word% "%title%" with "%here%Typeloader.exe"
if not exist "%here%Typeloader.exe" goto missing
"%here%Typeloader.exe" %option% "/title:%title%" >"%out%" 2>&1
set "code=%errorlevel%"
type "%out%"
type "%out%" >>"%log%"
find "%word% OK : " <"%out%" >nul
if not errorlevel 1 set "changed=1"
find "%word% FAIL : " <"%out%" >nul
if not errorlevel 1 set "bad=a FAIL line"
del "%out%"
if not "%code%"=="0" set "bad=Typeloader.exe exited with %code%"
if defined bad goto verdict
if "%word%"=="Uninstall" goto verdict
if not defined changed set "bad=nothing to install in Font"
if not defined changed goto verdict
rem Wine's FOR finds nothing for a quoted pattern, so match from inside Font.
pushd "%here%Font"
if errorlevel 1 goto verdict
for %%f in (*.ttf) do (set "font=%%~nxf" & call :compare)
for /d %%f in (*.ttf) do (set "bad=a folder in Font is named like a font" & >>"%log%" echo not a file: "Font\%%~nxf")
dir /b /a:h *.ttf >nul 2>&1
if not errorlevel 1 set "bad=hidden entries in Font, which are not checked"
dir /b /a:s *.ttf >nul 2>&1
if not errorlevel 1 set "bad=system entries in Font, which are not checked"
popd
goto verdict
:missing
set "bad=Typeloader.exe is missing beside this script"
:verdict
set "verdict=0"
if defined changed set "verdict=3010"
if defined bad set "verdict=1"
if defined bad >>"%log%" echo failed: %bad%
>>"%log%" echo exit code %verdict%
echo Typeloader-Deploy: exit code %verdict%
exit /b %verdict%
:linked
echo Refused: "%folder%" is a link or junction; remove it, then run again 1>&2
exit /b 1
:usage
>>"%log%" echo ==== %date% %time% usage error: exit code 2
echo Usage: Typeloader-Deploy.cmd install^|uninstall "title" 1>&2
exit /b 2
:refused
>>"%log%" echo ==== %date% %time% refused a title it cannot pass on safely: exit code 2
echo Refused: a title with a double quote or any of %% ^^ ^& ^| ^< ^> ! cannot be passed on safely 1>&2
exit /b 2
rem A good copy is a file of its source's size and last-write time (CopyFileW
rem keeps the time); anything else means the copy failed, often a font in use.
:compare
set "source=missing"
set "copy=missing"
set "kind="
for %%s in ("%font%") do set "source=%%~zs bytes, %%~ts"
if exist "%SystemRoot%\Fonts\%font%" for %%d in ("%SystemRoot%\Fonts\%font%") do (set "copy=%%~zd bytes, %%~td" & set "kind=%%~ad")
if "%kind:~0,1%"=="d" set "copy=a folder"
if "%source%"=="%copy%" goto :eof
set "bad=a copy differs from its source"
>>"%log%" echo not copied: "Font\%font%" is %source%; "%SystemRoot%\Fonts\%font%" is %copy%
goto :eof
