# Checks that a Windows binary imports from Windows system DLLs only, so that it runs without
# any runtime DLL of the compiler beside it (libstdc++-6.dll, libgcc_s_*.dll,
# libwinpthread-1.dll). Fails with the names of the DLLs that are not allowed.
#
#   cmake -DBINARY=file.dll -DLISTER=i686-w64-mingw32-objdump [-DALLOWED=a.dll;b-*.dll]
#         -P CheckImports.cmake
#
# ALLOWED holds the allowed DLL names, compared without regard to case; "*" stands for any
# run of characters.
if(NOT DEFINED ALLOWED)
    set(ALLOWED
        KERNEL32.dll ADVAPI32.dll msvcrt.dll SETUPAPI.dll WINUSB.dll VERSION.dll USER32.dll
        api-ms-win-*.dll)
endif()

execute_process(COMMAND ${LISTER} -p ${BINARY} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${LISTER} failed on ${BINARY}")
endif()
string(REGEX MATCHALL "\tDLL Name: [^\n]+" rows "${out}")
set(imports "")
foreach(row IN LISTS rows)
    string(REGEX REPLACE "\tDLL Name: ([^\r\n]+)" "\\1" name "${row}")
    string(STRIP "${name}" name)
    list(APPEND imports "${name}")
endforeach()
if(NOT imports)
    message(FATAL_ERROR "no import table found in ${BINARY}")
endif()

# Each allowed name as an anchored regular expression over the lower-case name.
set(patterns "")
foreach(allowed IN LISTS ALLOWED)
    string(TOLOWER "${allowed}" pattern)
    string(REGEX REPLACE "([][.+?^$(){}|\\\\])" "\\\\\\1" pattern "${pattern}")
    string(REPLACE "*" ".*" pattern "${pattern}")
    list(APPEND patterns "^${pattern}$")
endforeach()

set(offending "")
foreach(import IN LISTS imports)
    string(TOLOWER "${import}" name)
    set(allowed FALSE)
    foreach(pattern IN LISTS patterns)
        if(name MATCHES "${pattern}")
            set(allowed TRUE)
            break()
        endif()
    endforeach()
    if(NOT allowed)
        list(APPEND offending "${import}")
    endif()
endforeach()

list(JOIN imports ", " importsText)
if(offending)
    list(JOIN offending ", " offendingText)
    # Indented lines: CMake prints them as they stand, without wrapping.
    message(FATAL_ERROR "${BINARY} imports DLLs that are not Windows system DLLs.\n"
                        "  not allowed: ${offendingText}\n"
                        "  all imports: ${importsText}")
endif()
message(STATUS "${BINARY} imports only Windows system DLLs: ${importsText}")
