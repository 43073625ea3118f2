@echo off
rem Converts every .wav file in a folder with sndblok, the outputs beside
rem them. Prints nothing for a good file; names each file that fails, with
rem what sndblok printed, and then exits with 1.
rem Usage: sndblok-folder FOLDER
rem sndblok.exe beside this file is used, else the one on the PATH.
rem Its lines end in CR LF: with LF alone, Windows' cmd can miss a label.
setlocal EnableExtensions DisableDelayedExpansion
if "%~1"=="" (
    >&2 echo Usage: %~n0 FOLDER
    exit /b 2
)
if not exist "%~1\" (
    rem Quoted, as a folder's name may hold & or another mark of cmd's.
    >&2 echo %~n0: no folder "%~1"
    exit /b 2
)
set "program=sndblok"
if exist "%~dp0sndblok.exe" set "program=%~dp0sndblok.exe"
set "printed=%TEMP%\sndblok-folder-%RANDOM%%RANDOM%.txt"
set failed=0
pushd "%~1"
rem *.wav also matches .WAV, which sndblok refuses and so names here, and
rem names whose short 8.3 form ends in .WAV (take.wave), which are skipped.
for %%f in (*.wav) do (
    if /i "%%~xf"==".wav" (
        "%program%" "%%~ff" > "%printed%"
        if errorlevel 1 (
            >&2 echo sndblok cannot convert %%~ff:
            >&2 type "%printed%"
            set failed=1
        )
    )
)
popd
del "%printed%" 2> nul
exit /b %failed%
