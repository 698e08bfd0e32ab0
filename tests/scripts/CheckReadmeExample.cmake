# The program README.md shows (its ```cpp block) is examples/minimal.cpp, byte for byte, so that
# what the README shows is what the build compiles and example_minimal runs.
#   cmake -DREADME=README.md -DSOURCE=examples/minimal.cpp -P CheckReadmeExample.cmake
file(READ ${README} readme)
file(READ ${SOURCE} source)
string(FIND "${readme}" "```cpp\n" start)
if(start EQUAL -1)
    message(FATAL_ERROR "${README} has no ```cpp block")
endif()
math(EXPR start "${start} + 7")
string(SUBSTRING "${readme}" ${start} -1 rest)
string(FIND "${rest}" "\n```" end)
math(EXPR end "${end} + 1")
string(SUBSTRING "${rest}" 0 ${end} shown)
if(NOT shown STREQUAL source)
    message(FATAL_ERROR "The program in ${README} differs from ${SOURCE}")
endif()
