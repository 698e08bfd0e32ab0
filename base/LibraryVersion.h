/* The library's version: the one definition, for the code, the Windows version resource and the
   build (CMake reads it for the project version, so packages and installer follow), so
   plain preprocessor macros that the resource compiler reads as well. */
#ifndef VTX_LIBRARY_VERSION_H
#define VTX_LIBRARY_VERSION_H

#define VTX_VERSION_NUMBERS 2, 3, 0, 0
#define VTX_VERSION_STRING "2.3.0.0"
#define VTX_API_VERSION_STRING "04.04"

#endif
