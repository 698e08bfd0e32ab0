# The Windows DLL's name and export list by pointer width: vtxpts32.dll (stdcall, its .def maps
# the undecorated names to the decorated symbols) or vtxpts64.dll (x64 has one calling
# convention, the symbols are undecorated already). The target stays vtxpts32 in both builds.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(VTX_DLL_NAME vtxpts64)
else()
    set(VTX_DLL_NAME vtxpts32)
endif()
set(VTX_DLL_DEF ${PROJECT_SOURCE_DIR}/api/${VTX_DLL_NAME}.def)

# What scripts/package-windows.sh takes from this build: the version and the files it ships.
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/windows-package.txt
     CONTENT "version=${PROJECT_VERSION}
library=$<TARGET_FILE:vtxpts32>
ptcan=$<TARGET_FILE:ptcan>
")
