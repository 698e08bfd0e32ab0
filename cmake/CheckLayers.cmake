# Fails when a file of a layer includes a header of a layer above its own, or when two layers of
# the same rank include each other (the device layer and the simulated device; the communication
# thread and the protocols). Run at every build that changed a layer's
# file:  cmake -DSOURCE_DIR=<root> -P CheckLayers.cmake
#
# Layers from the bottom: a file may include its own layer and any layer with a lower rank.
set(VTX_LAYER_RANKS
    base 0
    trace 1
    platform 2
    device 3
    sim 3
    comm 4
    protocol 4
    channel 5
    operations 6
    api 7
)

function(vtx_layer_rank layer out)
    list(FIND VTX_LAYER_RANKS ${layer} index)
    if(index EQUAL -1)
        set(${out} -1 PARENT_SCOPE)
    else()
        math(EXPR rankIndex "${index} + 1")
        list(GET VTX_LAYER_RANKS ${rankIndex} rank)
        set(${out} ${rank} PARENT_SCOPE)
    endif()
endfunction()

if(NOT SOURCE_DIR)
    message(FATAL_ERROR "CheckLayers.cmake: set SOURCE_DIR")
endif()

set(violations "")
set(layer_count 0)
list(LENGTH VTX_LAYER_RANKS pairs)
math(EXPR last "${pairs} - 2")
foreach(index RANGE 0 ${last} 2)
    list(GET VTX_LAYER_RANKS ${index} layer)
    vtx_layer_rank(${layer} own_rank)
    file(GLOB_RECURSE files ${SOURCE_DIR}/${layer}/*.h ${SOURCE_DIR}/${layer}/*.cpp)
    foreach(file IN LISTS files)
        file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"[A-Za-z0-9_]+/")
        foreach(line IN LISTS includes)
            string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"([A-Za-z0-9_]+)/.*" "\\1" target
                                 "${line}")
            if(target STREQUAL layer)
                continue()
            endif()
            vtx_layer_rank(${target} target_rank)
            if(target_rank EQUAL -1)
                continue()
            endif()
            if(NOT target_rank LESS own_rank)
                file(RELATIVE_PATH shown ${SOURCE_DIR} ${file})
                string(STRIP "${line}" line)
                list(APPEND violations "  ${shown} (${layer}) -> ${line}")
            endif()
        endforeach()
    endforeach()
endforeach()

if(violations)
    list(JOIN violations "\n" report)
    message(FATAL_ERROR "Includes that point up the layers "
                        "(base < trace < platform < device, sim < comm, protocol < channel < operations < api):\n"
                        "${report}")
endif()
