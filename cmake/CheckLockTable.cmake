# Fails when a mutex or condition variable declared in the library's folders has no row in the lock
# tables of ARCHITECTURE.md, or when the tables name one that is no longer declared.
#   cmake -DSOURCE_DIR=<root> [-DTABLE=<file>] -P CheckLockTable.cmake
#
# A declaration is known by the base name of the file that declares it and its own name,
# File::name: one class per file pair makes that the class's member (Channel::receiveMutex_), and a
# variable at namespace scope of a source file is named after its file
# (DeviceSelection::processDevicesMutex). The tables are the part of TABLE between the lines
# "<!-- lock tables -->" and "<!-- end of lock tables -->"; what they list is every File::name in
# backquotes in the first cell of a row.
cmake_minimum_required(VERSION 3.20)
if(NOT SOURCE_DIR)
    message(FATAL_ERROR "CheckLockTable.cmake: set SOURCE_DIR")
endif()
if(NOT TABLE)
    set(TABLE "${SOURCE_DIR}/ARCHITECTURE.md")
endif()

set(folders base trace platform device sim comm protocol channel operations api)
set(kind "std::(recursive_|shared_|timed_)?(mutex|condition_variable|condition_variable_any)")
set(declaration "${kind}[ \t]+[A-Za-z_][A-Za-z0-9_]*[ \t]*[;{=]")

set(declared "")
foreach(folder ${folders})
    file(GLOB_RECURSE files "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.cpp")
    foreach(file ${files})
        file(STRINGS "${file}" lines REGEX "${declaration}")
        get_filename_component(owner "${file}" NAME_WE)
        foreach(line ${lines})
            string(REGEX MATCH "${declaration}" found "${line}")
            string(REGEX REPLACE "^${kind}[ \t]+([A-Za-z0-9_]+).*$" "\\3" name "${found}")
            list(APPEND declared "${owner}::${name}")
        endforeach()
    endforeach()
endforeach()
list(REMOVE_DUPLICATES declared)

file(STRINGS "${TABLE}" table_lines)
set(inside FALSE)
set(listed "")
foreach(line IN LISTS table_lines)
    if(line MATCHES "^<!-- lock tables -->")
        set(inside TRUE)
    elseif(line MATCHES "^<!-- end of lock tables -->")
        set(inside FALSE)
    elseif(inside AND line MATCHES "^\\|([^|]*)\\|")
        set(cell "${CMAKE_MATCH_1}")
        string(REGEX MATCHALL "`[A-Za-z0-9_]+::[A-Za-z0-9_]+`" names "${cell}")
        foreach(name ${names})
            string(REPLACE "`" "" name "${name}")
            list(APPEND listed "${name}")
        endforeach()
    endif()
endforeach()

set(problems "")
foreach(name ${declared})
    if(NOT name IN_LIST listed)
        string(APPEND problems "  declared, not in the lock tables: ${name}\n")
    endif()
endforeach()
foreach(name ${listed})
    if(NOT name IN_LIST declared)
        string(APPEND problems "  in the lock tables, not declared: ${name}\n")
    endif()
endforeach()
list(LENGTH declared count)
if(problems)
    message(FATAL_ERROR "The lock tables of ${TABLE} do not match the code:\n${problems}")
endif()
message(STATUS "Lock tables: ${count} mutexes and condition variables, each with its row")
