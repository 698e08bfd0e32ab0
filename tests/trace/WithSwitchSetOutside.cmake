# Sets the log switch from outside the process, as an administrator does, runs the trace test
# that expects it, and removes it again. Windows: "reg add ... /reg:32" in the Wine prefix;
# POSIX: the environment.
#   -DPROGRAM=<vtx_trace_tests> -DWINDOWS=<bool> -DRUNNER=<wine-run.sh, Windows only>
set(key "HKLM\\SOFTWARE\\WOW6432Node\\PassThruSupport.04.04\\Vantrix - J2534")
if(WINDOWS)
    execute_process(COMMAND ${RUNNER} reg add "${key}" /v EnableLog /t REG_DWORD /d 2 /f /reg:32
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
    execute_process(COMMAND ${RUNNER} reg delete "${key}" /v EnableLog /f /reg:32
                    OUTPUT_QUIET ERROR_QUIET)
endif()
if(NOT rc EQUAL 0 OR NOT out MATCHES "\\[  PASSED  \\] 1 test")
    message(FATAL_ERROR "the switch set outside the process was not read:\n${out}")
endif()
