# Helpers of the test scripts that install the library in a Wine prefix. WINE_RUN names
# scripts/wine-run.sh; the prefix is the one in the WINEPREFIX environment variable.

# Where 32-bit programs read the registry: 64 on 64-bit Windows, whose registry view for them is
# SOFTWARE\WOW6432Node; 32 on 32-bit Windows (and a 32-bit Wine prefix), which has only the one
# view under SOFTWARE. The first Wine call also creates the prefix.
function(vtx_registry_width result)
    execute_process(COMMAND ${WINE_RUN} cmd /c "if defined ProgramW6432 (echo 64) else (echo 32)"
                    OUTPUT_VARIABLE out RESULT_VARIABLE rc)
    string(STRIP "${out}" out)
    if(NOT rc EQUAL 0 OR NOT out MATCHES "^(32|64)$")
        message(FATAL_ERROR "cannot tell the width of the Wine prefix: '${out}' (${rc})")
    endif()
    set(${result} ${out} PARENT_SCOPE)
endfunction()

# The Windows path of a file of this machine: Wine maps drive Z: to the root.
function(vtx_wine_path path result)
    string(REPLACE "/" "\\" windowsPath "Z:${path}")
    set(${result} "${windowsPath}" PARENT_SCOPE)
endfunction()

# The key that the registry file writes for that width and library: the 64-bit library (its
# name ends in 64.dll) is registered for 64-bit programs, under SOFTWARE itself.
function(vtx_device_key width library result)
    if(library MATCHES "64\\.[dD][lL][lL]$")
        set(software "SOFTWARE")
    elseif(width EQUAL 64)
        set(software "SOFTWARE\\WOW6432Node")
    else()
        set(software "SOFTWARE")
    endif()
    set(${result} "HKEY_LOCAL_MACHINE\\${software}\\PassThruSupport.04.04\\Vantrix - J2534"
        PARENT_SCOPE)
endfunction()

# reg.exe option that makes it work on the key path as written: the 64-bit view, where
# WOW6432Node is the 32-bit programs' part of SOFTWARE.
function(vtx_reg_view_option width result)
    if(width EQUAL 64)
        set(${result} /reg:64 PARENT_SCOPE)
    else()
        set(${result} "" PARENT_SCOPE)
    endif()
endfunction()

# Removes the device key with its values; a key that is not there is no error.
function(vtx_remove_device_key width library)
    vtx_device_key(${width} "${library}" key)
    vtx_reg_view_option(${width} view)
    execute_process(COMMAND ${WINE_RUN} reg delete "${key}" /f ${view} OUTPUT_QUIET ERROR_QUIET)
    execute_process(COMMAND ${WINE_RUN} reg query "${key}" ${view} RESULT_VARIABLE rc
                    OUTPUT_QUIET ERROR_QUIET)
    if(rc EQUAL 0)
        message(FATAL_ERROR "cannot remove ${key}")
    endif()
endfunction()
