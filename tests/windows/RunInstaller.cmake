# The Windows installer in a Wine prefix of its own, as a user runs it: built by
# scripts/package-windows.sh from this build (and the 32-bit build, when WIN32_BUILD holds one),
# installed silently into a chosen folder, found and used through the registry by the discovery
# program, then uninstalled. An EnableLog value set before the installation must survive both.
#
#   cmake -DWINE_RUN=wine64-run.sh -DPREFIX=dir -DPACKAGE=scripts/package-windows.sh
#         -DBUILD_DIR=build/mingw64 [-DWIN32_BUILD=build/mingw] -DPROGRAM=vtx_discovery.exe
#         -DWORK_DIR=dir -P RunInstaller.cmake
cmake_policy(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/WineRegistry.cmake)

set(supportKey "HKLM\\SOFTWARE\\PassThruSupport.04.04")
set(deviceKey "${supportKey}\\Vantrix - J2534")
set(uninstallKey "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VTX J2534")
set(installDir "C:\\Program Files\\VTX Test\\J2534")
set(installDirUnix "drive_c/Program Files/VTX Test/J2534")
# Set before the installation in the 32-bit view: the installer must leave it as it is.
set(presetLog 5)

function(wine_run)
    execute_process(COMMAND ${WINE_RUN} ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out
                    ERROR_VARIABLE err TIMEOUT 120)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "${ARGN} failed (${rc}):\n${out}${err}")
    endif()
    set(out "${out}" PARENT_SCOPE)
endfunction()

# Waits until every program of the prefix has ended: the uninstaller runs on from a copy of
# itself in the temporary folder after the one started has exited.
function(wait_for_prefix)
    find_program(wineserver NAMES wineserver64 wineserver PATHS /usr/lib/wine NO_CACHE)
    execute_process(COMMAND ${wineserver} -w TIMEOUT 120 RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "wineserver -w: ${rc}")
    endif()
endfunction()

# The values of a key in one view as "name=type:data" lines; absent: the variable is "ABSENT".
function(query_key key view result)
    execute_process(COMMAND ${WINE_RUN} reg query "${key}" /reg:${view} RESULT_VARIABLE rc
                    OUTPUT_VARIABLE out ERROR_QUIET)
    if(NOT rc EQUAL 0)
        set(${result} "ABSENT" PARENT_SCOPE)
        return()
    endif()
    string(REGEX REPLACE "\r" "" out "${out}")
    string(REGEX MATCHALL "\n    [^\n]+" rows "${out}")
    set(values "")
    foreach(row IN LISTS rows)
        string(REGEX REPLACE "^\n    (.*[^ ]) +(REG_[A-Z_]+) +(.*)$" "\\1=\\2:\\3" row "${row}")
        string(REGEX REPLACE "^\n    (.*[^ ]) +(REG_[A-Z_]+) *$" "\\1=\\2:" row "${row}")
        list(APPEND values "${row}")
    endforeach()
    set(${result} "${values}" PARENT_SCOPE)
endfunction()

function(expect_values key view)
    query_key("${key}" ${view} values)
    foreach(expected IN LISTS ARGN)
        if(NOT expected IN_LIST values)
            message(FATAL_ERROR "${key} (${view}-bit view): no ${expected} in\n  ${values}")
        endif()
    endforeach()
endfunction()

function(expect_absent key view)
    query_key("${key}" ${view} values)
    if(NOT values STREQUAL "ABSENT")
        message(FATAL_ERROR "${key} (${view}-bit view) is still there: ${values}")
    endif()
endfunction()

function(expect_device_key view file log)
    expect_values("${deviceKey}" ${view} "FunctionLibrary=REG_SZ:${installDir}\\${file}"
                  "Name=REG_SZ:VTX USB-to-CAN Pass-Thru" "Vendor=REG_SZ:VTX" "CAN=REG_DWORD:0x1"
                  "ISO15765=REG_DWORD:0x1" "J1850VPW=REG_DWORD:0x0" "EnableLog=REG_DWORD:${log}")
endfunction()

set(ENV{WINEPREFIX} "${PREFIX}")
file(REMOVE_RECURSE "${PREFIX}" "${WORK_DIR}/installer")
vtx_registry_width(width)
if(NOT width EQUAL 64)
    message(FATAL_ERROR "the installer test needs a 64-bit Wine prefix")
endif()

set(builds "${BUILD_DIR}")
set(with32 FALSE)
if(WIN32_BUILD AND EXISTS "${WIN32_BUILD}/windows-package.txt")
    list(APPEND builds "${WIN32_BUILD}")
    set(with32 TRUE)
    message(STATUS "installing vtxpts64.dll and vtxpts32.dll (from ${WIN32_BUILD})")
else()
    message(STATUS "installing vtxpts64.dll only: no 32-bit build in '${WIN32_BUILD}'")
endif()
execute_process(COMMAND sh "${PACKAGE}" -o "${WORK_DIR}/installer" ${builds}
                RESULT_VARIABLE rc OUTPUT_VARIABLE installer ERROR_VARIABLE err)
string(STRIP "${installer}" installer)
if(NOT rc EQUAL 0 OR NOT installer MATCHES "/vtxpts-setup-2\\.3\\.0\\.0\\.exe$")
    message(FATAL_ERROR "package-windows.sh failed (${rc}): ${installer}\n${err}")
endif()

if(with32)
    wine_run(reg add "${deviceKey}" /v EnableLog /t REG_DWORD /d ${presetLog} /f /reg:32)
endif()
# NSIS takes the rest of the command line after /D= as the folder, unquoted, spaces and all.
# Given as one argument, Wine would quote it for the spaces; as words, it joins them with spaces.
string(REPLACE " " ";" folderWords "/D=${installDir}")
wine_run("${installer}" /S ${folderWords})
wait_for_prefix()

# The files, the libraries byte for byte as built.
foreach(file vtxpts64.dll ptcan.exe README.txt uninstall.exe drivers/vtxwinusbcan.inf
             drivers/vtxusbcan.inf)
    if(NOT EXISTS "${PREFIX}/${installDirUnix}/${file}")
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${BUILD_DIR}/vtxpts64.dll"
                        "${PREFIX}/${installDirUnix}/vtxpts64.dll" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the installed vtxpts64.dll is not the built one")
endif()

# Both registrations, each in the view of the applications that can load its library.
expect_device_key(64 vtxpts64.dll 0x0)
if(with32)
    if(NOT EXISTS "${PREFIX}/${installDirUnix}/vtxpts32.dll")
        message(FATAL_ERROR "not installed: vtxpts32.dll")
    endif()
    expect_device_key(32 vtxpts32.dll 0x${presetLog})
endif()
expect_values("${uninstallKey}" 64 "DisplayVersion=REG_SZ:2.3.0.0")

# A J2534 application's way: the registry, the library in the chosen folder, the device.
set(ENV{VTXPTS_DEVICE} sim)
execute_process(COMMAND ${WINE_RUN} "${PROGRAM}" --device "Vantrix - J2534" --dll-version 2.3.0.0
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 90)
unset(ENV{VTXPTS_DEVICE})
message("${out}${err}")
string(REPLACE "\\" "\\\\" escapedDir "${installDir}")
if(NOT rc EQUAL 0 OR NOT out MATCHES "LoadLibraryA: \"${escapedDir}\\\\vtxpts64\\.dll\" loaded")
    message(FATAL_ERROR "the discovery program did not use the installed vtxpts64.dll (${rc})")
endif()

# The uninstaller takes back what the installer added, and nothing else.
wine_run("${installDir}\\uninstall.exe" /S)
wait_for_prefix()
if(EXISTS "${PREFIX}/drive_c/Program Files/VTX Test")
    file(GLOB_RECURSE left "${PREFIX}/drive_c/Program Files/VTX Test/*")
    message(FATAL_ERROR "left behind: C:\\Program Files\\VTX Test: ${left}")
endif()
expect_absent("${supportKey}" 64)
expect_absent("${uninstallKey}" 64)
if(with32)
    query_key("${deviceKey}" 32 values)
    if(NOT values STREQUAL "EnableLog=REG_DWORD:0x${presetLog}")
        message(FATAL_ERROR "the 32-bit key should keep only its EnableLog: ${values}")
    endif()
endif()
file(REMOVE_RECURSE "${PREFIX}")
message(STATUS "installed, found, used and uninstalled")
