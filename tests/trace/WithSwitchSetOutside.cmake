# Sets the log switch from outside the process, as an administrator does, runs the trace test
# that expects it, and removes it again. Windows: "reg add" in the Wine prefix at the key the
# library of that width reads, named as the native (64-bit) view shows it (the 32-bit library's
# key is the WOW6432Node one; asked for through the 32-bit view, Wine would nest that path once
# more); POSIX: the environment.
#   -DPROGRAM=<vtx_trace_tests> -DWINDOWS=<bool> -DRUNNER=<wine-run.sh, Windows only>
#   -DPOINTER_BYTES=<4 or 8>
set(view /reg:64)
if(POINTER_BYTES EQUAL 8)
    set(key "HKLM\\SOFTWARE\\PassThruSupport.04.04\\Vantrix - J2534")
else()
    set(key "HKLM\\SOFTWARE\\WOW6432Node\\PassThruSupport.04.04\\Vantrix - J2534")
endif()
if(WINDOWS)
    execute_process(COMMAND ${RUNNER} reg add "${key}" /v EnableLog /t REG_DWORD /d 2 /f ${view}
                    RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "reg add failed (${rc})")
    endif()
    set(command ${RUNNER} ${PROGRAM})
else()
    set(ENV{VTXPTS_ENABLELOG} 2)
    set(command ${PROGRAM})
endif()
set(ENV{VTX_SWITCH_SET_OUTSIDE} 1)
execute_process(COMMAND ${command} --gtest_filter=TraceSessionTest.SwitchSetOutside*
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(WINDOWS)
    execute_process(COMMAND ${RUNNER} reg delete "${key}" /v EnableLog /f ${view}
                    OUTPUT_QUIET ERROR_QUIET)
endif()
if(NOT rc EQUAL 0 OR NOT out MATCHES "\\[  PASSED  \\] 1 test")
    message(FATAL_ERROR "the switch set outside the process was not read:\n${out}")
endif()
