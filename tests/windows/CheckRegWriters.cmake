# Checks the writers of the registry file.
#
#   MODE=checked-in: write-reg.sh, given the default installation paths, writes exactly the
#                    checked-in vtxpts32.reg and vtxpts64.reg.
#   MODE=cmd:        write-reg.cmd, run under Wine, writes the same file as write-reg.sh for the
#                    prefix's width, for paths with spaces, parentheses, & and !, of the 32-bit
#                    and (in a 64-bit prefix) the 64-bit library.
#
#   cmake -DMODE=... -DINSTALL_DIR=install/windows -DWORK_DIR=dir [-DWINE_RUN=wine-run.sh]
#         -P CheckRegWriters.cmake
include(${CMAKE_CURRENT_LIST_DIR}/WineRegistry.cmake)

function(write_with_sh width dllPath file)
    execute_process(COMMAND sh "${INSTALL_DIR}/write-reg.sh" -w ${width} "${dllPath}" "${file}"
                    RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "write-reg.sh failed (${rc})")
    endif()
endfunction()

function(expect_same_file expected actual)
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${expected}" "${actual}"
                    RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        file(READ "${expected}" expectedText)
        file(READ "${actual}" actualText)
        message(FATAL_ERROR "${actual} differs from ${expected}:\n--- expected\n${expectedText}"
                            "--- actual\n${actualText}")
    endif()
endfunction()

# write-reg.cmd under Wine must write what write-reg.sh writes for the prefix's width.
function(expect_cmd_as_sh width dllPath)
    write_with_sh(${width} "${dllPath}" "${WORK_DIR}/sh.reg")
    file(REMOVE "${WORK_DIR}/cmd.reg")
    vtx_wine_path("${INSTALL_DIR}/write-reg.cmd" script)
    vtx_wine_path("${WORK_DIR}/cmd.reg" output)
    execute_process(COMMAND ${WINE_RUN} cmd /c "${script}" "${dllPath}" "${output}"
                    RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "write-reg.cmd failed (${rc}) for ${dllPath}")
    endif()
    expect_same_file("${WORK_DIR}/sh.reg" "${WORK_DIR}/cmd.reg")
endfunction()

if(MODE STREQUAL "checked-in")
    set(file "${WORK_DIR}/default-path.reg")
    write_with_sh(64 "C:\\Program Files (x86)\\VTX\\J2534\\vtxpts32.dll" "${file}")
    expect_same_file("${INSTALL_DIR}/vtxpts32.reg" "${file}")
    write_with_sh(64 "C:\\Program Files\\VTX\\J2534\\vtxpts64.dll" "${file}")
    expect_same_file("${INSTALL_DIR}/vtxpts64.reg" "${file}")
elseif(MODE STREQUAL "cmd")
    vtx_registry_width(width)
    expect_cmd_as_sh(${width} "C:\\Program Files (x86)\\A&B! (test)/J2534\\vtxpts32.dll")
    if(width EQUAL 64)
        expect_cmd_as_sh(64 "C:\\Program Files\\A&B! (test)/J2534\\VTXPTS64.dll")
    endif()
else()
    message(FATAL_ERROR "unknown MODE '${MODE}'")
endif()
