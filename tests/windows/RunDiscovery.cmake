# Installs the built library in a Wine prefix as the installation files do it, then runs the
# discovery program, which finds the library in the registry and uses it as a J2534 application
# does. The prefix is this test's own, and the key is removed again at the end.
#
#   cmake -DWINE_RUN=scripts/wine-run.sh -DPREFIX=dir -DWRITE_REG=install/windows/write-reg.sh
#         -DLIBRARY=vtxpts32.dll|vtxpts64.dll -DPROGRAM=vtx_discovery.exe -DWORK_DIR=dir
#         -P RunDiscovery.cmake
include(${CMAKE_CURRENT_LIST_DIR}/WineRegistry.cmake)

set(ENV{WINEPREFIX} "${PREFIX}")
set(deviceKeyName "Vantrix - J2534")
# Seconds one run of the program may take; it needs a few.
set(programTimeout 90)

vtx_registry_width(width)
vtx_wine_path("${LIBRARY}" dllPath)
set(regFile "${WORK_DIR}/discovery.reg")
execute_process(COMMAND sh "${WRITE_REG}" -w ${width} "${dllPath}" "${regFile}"
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "write-reg.sh failed (${rc})")
endif()
message(STATUS "registry file for ${width}-bit Windows, FunctionLibrary ${dllPath}")

function(run_discovery result output)
    execute_process(COMMAND ${WINE_RUN} "${PROGRAM}" --device "${deviceKeyName}" ${ARGN}
                    OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc
                    TIMEOUT ${programTimeout})
    set(${result} ${rc} PARENT_SCOPE)
    set(${output} "${out}${err}" PARENT_SCOPE)
endfunction()

# Without the key the program must find nothing.
vtx_remove_device_key(${width} "${LIBRARY}")
run_discovery(rc out)
if(rc EQUAL 0 OR NOT out MATCHES "no registered J2534 device")
    message(FATAL_ERROR "the discovery program succeeded without a registered device:\n${out}")
endif()

vtx_reg_view_option(${width} view)
execute_process(COMMAND ${WINE_RUN} reg import "${regFile}" ${view} RESULT_VARIABLE rc
                OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
    vtx_remove_device_key(${width} "${LIBRARY}")
    message(FATAL_ERROR "reg import ${regFile} failed (${rc}): ${out}${err}")
endif()

set(ENV{VTXPTS_DEVICE} sim)
run_discovery(rc out --dll-version 2.3.0.0 --firmware "VTX20 - N. 1234 - Ver FW 2.1.a.f")
unset(ENV{VTXPTS_DEVICE})
vtx_remove_device_key(${width} "${LIBRARY}")
message("${out}")
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the discovery program failed (exit code ${rc})")
endif()
