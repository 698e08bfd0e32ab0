# Checks that the library exports exactly the fourteen J2534 functions; on Windows also that
# they stand undecorated at ordinals 1 to 14 in alphabetical order.
set(expected
    PassThruClose PassThruConnect PassThruDisconnect PassThruGetLastError PassThruIoctl
    PassThruOpen PassThruReadMsgs PassThruReadVersion PassThruSetProgrammingVoltage
    PassThruStartMsgFilter PassThruStartPeriodicMsg PassThruStopMsgFilter
    PassThruStopPeriodicMsg PassThruWriteMsgs)

if(WINDOWS)
    execute_process(COMMAND ${LISTER} -p ${LIBRARY} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "${LISTER} failed on ${LIBRARY}")
    endif()
    # The name-pointer table: "[Ordinal/Name Pointer] Table" rows of the form "[   0] +base[   1] Name".
    string(REGEX MATCHALL "\\[ *[0-9]+\\] \\+base\\[ *[0-9]+\\] [^\n]+" rows "${out}")
    set(found "")
    foreach(row IN LISTS rows)
        string(REGEX REPLACE "\\[ *[0-9]+\\] \\+base\\[ *([0-9]+)\\] (.+)" "\\1;\\2" parts "${row}")
        list(GET parts 0 ordinal)
        list(GET parts 1 name)
        string(STRIP "${name}" name)
        list(APPEND found "${ordinal}:${name}")
    endforeach()
    set(want "")
    set(ordinal 1)
    foreach(name IN LISTS expected)
        list(APPEND want "${ordinal}:${name}")
        math(EXPR ordinal "${ordinal} + 1")
    endforeach()
else()
    execute_process(COMMAND ${LISTER} -D --defined-only ${LIBRARY} OUTPUT_VARIABLE out
                    RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "${LISTER} failed on ${LIBRARY}")
    endif()
    string(REGEX MATCHALL "[0-9a-fA-F]+ [A-Za-z] [^\n]+" rows "${out}")
    set(found "")
    foreach(row IN LISTS rows)
        string(REGEX REPLACE "[0-9a-fA-F]+ ([A-Za-z]) (.+)" "\\1;\\2" parts "${row}")
        list(GET parts 0 kind)
        list(GET parts 1 name)
        # Version-script nodes are absolute symbols, not functions.
        if(NOT kind STREQUAL "A")
            list(APPEND found "${name}")
        endif()
    endforeach()
    list(SORT found)
    set(want ${expected})
endif()

if(NOT found STREQUAL want)
    message(FATAL_ERROR "exports of ${LIBRARY}:\n  found: ${found}\n  want:  ${want}")
endif()
list(LENGTH found count)
message(STATUS "${LIBRARY}: the ${count} J2534 functions and nothing else")
