# The library's exported functions, one row each: name, ordinal in the Windows DLLs, number of
# parameters. The ordinals follow the names' alphabetical order; every parameter is a 32-bit
# value or a pointer. Read by CheckExports.cmake and CheckStackCleanup.cmake.
set(VTX_EXPORT_ROWS
    "PassThruClose 1 1"
    "PassThruConnect 2 5"
    "PassThruDisconnect 3 1"
    "PassThruGetLastError 4 1"
    "PassThruIoctl 5 4"
    "PassThruOpen 6 2"
    "PassThruReadMsgs 7 4"
    "PassThruReadVersion 8 4"
    "PassThruSetProgrammingVoltage 9 3"
    "PassThruStartMsgFilter 10 6"
    "PassThruStartPeriodicMsg 11 4"
    "PassThruStopMsgFilter 12 2"
    "PassThruStopPeriodicMsg 13 2"
    "PassThruWriteMsgs 14 4")

# Splits one row into <prefix>_NAME, <prefix>_ORDINAL and <prefix>_PARAMETERS.
macro(vtx_export_row row prefix)
    string(REPLACE " " ";" _vtxFields "${row}")
    list(GET _vtxFields 0 ${prefix}_NAME)
    list(GET _vtxFields 1 ${prefix}_ORDINAL)
    list(GET _vtxFields 2 ${prefix}_PARAMETERS)
endmacro()
