@echo off
rem Writes the registry file that makes the J2534 library known to J2534 applications.
rem
rem   write-reg.cmd DLL_PATH [OUTPUT]
rem
rem DLL_PATH is the full path of the installed vtxpts32.dll or vtxpts64.dll. The file goes to
rem OUTPUT, by default vtxpts32.reg or vtxpts64.reg in the current folder; import it with
rem "reg import OUTPUT" (on 64-bit Windows "reg import OUTPUT /reg:64"). For the 32-bit library
rem the key goes where this Windows keeps the registry view of 32-bit applications: under
rem SOFTWARE\WOW6432Node on 64-bit Windows, under SOFTWARE on 32-bit. A file name ending in 64
rem is the 64-bit library, registered for 64-bit applications under SOFTWARE (64-bit Windows only).
setlocal EnableExtensions DisableDelayedExpansion
if "%~1"=="" goto usage
if not "%~3"=="" goto usage
set "dll=%~1"
set "out=%~2"
set "name=%~n1"
set "width=32"
if /i "%name:~-2%"=="64" set "width=64"
if not defined out set "out=vtxpts%width%.reg"
set "software=SOFTWARE"
if defined ProgramW6432 if "%width%"=="32" set "software=SOFTWARE\WOW6432Node"
if "%width%"=="64" if not defined ProgramW6432 goto no64

rem An absolute path, with a drive letter or a share: slashes become backslashes, then
rem backslashes are doubled as .reg strings need. The path stands between double quotes on its
rem line below, so characters such as & and ) in it are written as they are.
set "dll=%dll:/=\%"
set "drive=%dll:~1,2%"
set "share=%dll:~0,2%"
if not "%drive%"==":\" if not "%share%"=="\\" goto relative
set "dll=%dll:\=\\%"

> "%out%" echo Windows Registry Editor Version 5.00
if errorlevel 1 exit /b 1
>> "%out%" echo.
>> "%out%" echo [HKEY_LOCAL_MACHINE\%software%\PassThruSupport.04.04\Vantrix - J2534]
>> "%out%" echo "Name"="VTX USB-to-CAN Pass-Thru"
>> "%out%" echo "Vendor"="VTX"
>> "%out%" echo "FunctionLibrary"="%dll%"
>> "%out%" echo "ConfigApplication"=""
>> "%out%" echo "J1850VPW"=dword:00000000
>> "%out%" echo "J1850PWM"=dword:00000000
>> "%out%" echo "ISO9141"=dword:00000000
>> "%out%" echo "ISO14230"=dword:00000000
>> "%out%" echo "CAN"=dword:00000001
>> "%out%" echo "ISO15765"=dword:00000001
>> "%out%" echo "SCI_A_ENGINE"=dword:00000000
>> "%out%" echo "SCI_A_TRANS"=dword:00000000
>> "%out%" echo "SCI_B_ENGINE"=dword:00000000
>> "%out%" echo "SCI_B_TRANS"=dword:00000000
>> "%out%" echo "EnableLog"=dword:00000000
if errorlevel 1 exit /b 1
exit /b 0

:no64
echo %~nx0: a 64-bit library needs 64-bit Windows: "%~1" 1>&2
exit /b 1

:relative
echo %~nx0: DLL_PATH is not an absolute Windows path: "%~1" 1>&2
exit /b 1

:usage
echo usage: %~nx0 DLL_PATH [OUTPUT] 1>&2
exit /b 2
