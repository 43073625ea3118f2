@echo off
rem Converts every .wav file in a folder with sndblok, the outputs beside
rem them. Prints nothing for a good file; names each file that fails, with
rem what sndblok printed before its usage banner, and then exits with 1,
rem whatever status the failed run ended with. A folder that is not there,
rem or that cmd cannot enter, is named, nothing is converted, and the
rem status is 2.
rem Usage: sndblok-folder FOLDER
rem sndblok.exe beside this file is used, else the one on the PATH.
rem Its lines end in CR LF: with LF alone, Windows' cmd can miss a label.
rem
rem Windows' cmd runs this, and Wine's runs it in the tests; it is written
rem the way both run alike:
rem - A run's status is compared with 0, "if %errorlevel% neq 0", in a
rem   subroutine called after each run, which reads it before any set
rem   clears it. "if errorlevel 1" is false for a negative status, which a
rem   run ended by Ctrl-C (0xC000013A) or by a crash (0xC0000005) has, and
rem   "if not errorlevel 0" true for those alone; %errorlevel% in a loop's
rem   body is read once, before the loop runs.
rem - pushd is judged by where cmd is after it, not by its status nor by ||:
rem   Wine's cmd ends a pushd that fails past 260 characters with status 0,
rem   and takes the || after one that succeeded.
rem - A file's name is only ever a for variable, in which cmd sees no mark
rem   of its own (& ^ ! parentheses, percent signs): Wine's cmd reads a
rem   variable's value for percent signs once more, and call would read a
rem   name's percent signs and carets once more.
rem - No if is nested in one with /i and not, which Wine's cmd refuses, no
rem   else stands in a block in a block, which it misreads, and no goto
rem   leaves a loop, which it carries on with.
rem - The console's code page is UTF-8 until the end, then the caller's
rem   again, so that names print as typed, in the encoding sndblok prints
rem   them in. Where cmd has no console (Wine's has none off a terminal),
rem   there is no code page to change, and a name outside the system's
rem   prints as ?. This file is ASCII, which reads the same in every one.
setlocal EnableExtensions DisableDelayedExpansion
if "%~1"=="" (
    >&2 echo Usage: %~n0 FOLDER
    exit /b 2
)
set codepage=0
for /f "tokens=2 delims=:." %%c in ('chcp 2^>nul') do (
    set /a "codepage=%%c" 2> nul
)
if %codepage% neq 0 chcp 65001 > nul
set status=2
if not exist "%~1\" (
    rem Quoted, as a folder's name may hold & or another mark of cmd's.
    >&2 echo %~n0: no folder "%~1"
    goto end
)
set "caller=%cd%"
pushd "%~1"
rem Still in the caller's folder, which is not the one named: pushd failed.
set moved=1
if "%cd%"=="%caller%" set "moved="
if defined moved goto entered
for %%d in ("%~1\.") do set "folder=%%~fd"
if /i not "%folder%"=="%cd%" goto not_entered
:entered
set "program=sndblok"
if exist "%~dp0sndblok.exe" set "program=%~dp0sndblok.exe"
set "printed=%TEMP%\sndblok-folder-%RANDOM%%RANDOM%.txt"
set failed=0
set "rule===================================================================="
rem *.wav also matches .WAV, which sndblok refuses and so names here, and
rem names whose short 8.3 form ends in .WAV (take.wave), which are skipped.
for %%f in (*.wav) do (
    if /i "%%~xf"==".wav" (
        "%program%" "%%~ff" > "%printed%"
        call :judge
        if defined bad (
            >&2 echo sndblok cannot convert %%~ff:
            call :message
            set failed=1
        )
    )
)
popd
del "%printed%" 2> nul
set status=%failed%
goto end

:not_entered
>&2 echo %~n0: cannot enter folder "%~1"
:end
if %codepage% neq 0 chcp %codepage% > nul
exit /b %status%

rem Sets bad if the run that just ended failed, whatever its status.
:judge
if %errorlevel% neq 0 (set bad=1) else set "bad="
exit /b

rem What sndblok printed, up to its usage banner: a line of = signs, then
rem USAGE:. for /f passes over blank lines, and over lines that start with
rem a semicolon, which sndblok never prints.
:message
set "held="
set "banner="
for /f "usebackq delims=" %%l in ("%printed%") do (
    if defined held if "%%l"=="USAGE:" set banner=1
    if defined banner set "held="
    if defined held >&2 echo %rule%
    set "held="
    if not defined banner if "%%l"=="%rule%" set held=1
    if not defined banner if not defined held >&2 echo %%l
)
if defined held >&2 echo %rule%
exit /b
