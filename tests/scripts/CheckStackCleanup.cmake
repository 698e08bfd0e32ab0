# Checks, without running it, that each function the 32-bit DLL exports removes its own
# arguments from the stack as a __stdcall function must: its return is "ret N" with N four bytes
# per parameter of ExportTable.cmake. A function compiled with another calling convention
# returns with a plain "ret" (or another N) and would corrupt its caller's stack.
#
#   cmake -DLIBRARY=vtxpts32.dll -DOBJDUMP=i686-w64-mingw32-objdump [-DROWS=row;row]
#         -P CheckStackCleanup.cmake
#
# ROWS, rows as in ExportTable.cmake, replaces the table (the check's own test gives a wrong one).
#
# The walk starts at the export's address and reads instructions until the first ret. An export
# whose first instruction is a jump (a thunk) is followed to the jump's target. The walk fails
# when it reaches the start of another function before a ret, so that the ret it finds is
# always the exported function's own.
cmake_policy(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/ExportTable.cmake)
if(DEFINED ROWS)
    set(VTX_EXPORT_ROWS ${ROWS})
endif()

# How far a walk reads from its start, and how many thunks it follows, before it gives up.
set(walkBytes 1024)
set(maxJumps 4)

execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p failed on ${LIBRARY}")
endif()
if(NOT out MATCHES "\nImageBase[ \t]+([0-9a-fA-F]+)")
    message(FATAL_ERROR "no ImageBase in ${LIBRARY}")
endif()
set(imageBase 0x${CMAKE_MATCH_1})
# The export address table: rows "[ i] +base[ ordinal] RVA Export RVA".
string(REGEX MATCHALL "\\+base\\[ *[0-9]+\\] [0-9a-fA-F]+ Export RVA" rows "${out}")
foreach(row IN LISTS rows)
    string(REGEX REPLACE "\\+base\\[ *([0-9]+)\\] ([0-9a-fA-F]+) .*" "\\1;\\2" parts "${row}")
    list(GET parts 0 ordinal)
    list(GET parts 1 rva)
    set(rvaOfOrdinal${ordinal} 0x${rva})
endforeach()

# Sets <out> to the ret's N of the function at <address>, or fails with <name> and the reason.
function(stack_cleanup name address out)
    set(jumps 0)
    while(TRUE)
        math(EXPR stop "${address} + ${walkBytes}" OUTPUT_FORMAT HEXADECIMAL)
        execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn --start-address=${address}
                                --stop-address=${stop} ${LIBRARY}
                        OUTPUT_VARIABLE text RESULT_VARIABLE rc)
        if(NOT rc EQUAL 0)
            message(FATAL_ERROR "${OBJDUMP} -d failed on ${LIBRARY} at ${address}")
        endif()
        string(REGEX MATCHALL "[^\n]+" lines "${text}")
        set(first TRUE)
        set(followed FALSE)
        foreach(line IN LISTS lines)
            # A prefix ("repz ret", "bnd jmp") does not change what the instruction does here.
            string(REGEX REPLACE "\t(repz?|bnd) " "\t" line "${line}")
            if(line MATCHES "^ *[0-9a-fA-F]+ <([^>]+)>:$")
                # A function's label: the walk's own start, or the next function's.
                if(NOT first)
                    message(FATAL_ERROR "${name}: no ret before the next function, "
                                        "${CMAKE_MATCH_1}")
                endif()
            elseif(line MATCHES "^ *[0-9a-fA-F]+:\t([a-z]+)[ \t]*(.*)$")
                set(mnemonic ${CMAKE_MATCH_1})
                set(operands "${CMAKE_MATCH_2}")
                if(mnemonic MATCHES "^ret[lw]?$")
                    if(operands MATCHES "^\\$0x([0-9a-fA-F]+)")
                        math(EXPR bytes "0x${CMAKE_MATCH_1}")
                    else()
                        set(bytes 0)
                    endif()
                    set(${out} ${bytes} PARENT_SCOPE)
                    return()
                endif()
                if(first AND mnemonic STREQUAL "jmp")
                    if(NOT operands MATCHES "^([0-9a-fA-F]+)( |$)")
                        message(FATAL_ERROR "${name}: an indirect jump, ${operands}")
                    endif()
                    math(EXPR jumps "${jumps} + 1")
                    if(jumps GREATER maxJumps)
                        message(FATAL_ERROR "${name}: more than ${maxJumps} jumps")
                    endif()
                    set(address 0x${CMAKE_MATCH_1})
                    set(followed TRUE)
                    break()
                endif()
                set(first FALSE)
            endif()
        endforeach()
        if(NOT followed)
            message(FATAL_ERROR "${name}: no ret in the ${walkBytes} bytes from ${address}")
        endif()
    endwhile()
endfunction()

set(failures "")
set(count 0)
foreach(row IN LISTS VTX_EXPORT_ROWS)
    vtx_export_row("${row}" export)
    if(NOT DEFINED rvaOfOrdinal${export_ORDINAL})
        message(FATAL_ERROR "${LIBRARY} exports nothing at ordinal ${export_ORDINAL}")
    endif()
    math(EXPR address "${imageBase} + ${rvaOfOrdinal${export_ORDINAL}}" OUTPUT_FORMAT HEXADECIMAL)
    stack_cleanup(${export_NAME} ${address} bytes)
    math(EXPR want "4 * ${export_PARAMETERS}")
    if(NOT bytes EQUAL want)
        string(APPEND failures "  ${export_NAME} (ordinal ${export_ORDINAL}): ret ${bytes}, want "
                               "ret ${want} for ${export_PARAMETERS} parameters\n")
    endif()
    math(EXPR count "${count} + 1")
endforeach()
if(failures)
    # Indented lines: CMake prints them as they stand, without wrapping.
    message(FATAL_ERROR "exports of ${LIBRARY} that do not clean up their arguments:\n"
                        "${failures}")
endif()
message(STATUS "${LIBRARY}: the ${count} exports return with ret 4 x their parameters")
