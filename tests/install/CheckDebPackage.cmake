# Builds the DEB from the build folder, unpacks it with dpkg -x into a scratch root and checks
# what a user gets: the file list, the libraries' links, pkg-config's flags, find_package, a
# client compiled against the unpacked header and pkg-config file alone, and device discovery
# through the installed descriptor. The client and the discovery run against the simulated
# device. With ULONG the package also holds the unsigned-long library: the client is built a
# second time with `vtxpts-ulong`'s flags, as a program built with the standard header's types.
#
#   cmake -DCPACK=... -DCPACK_CONFIG=... -DPKG_CONFIG=... -DCXX=... -DCLIENT_SOURCE=...
#         -DFIND_PACKAGE_PROJECT=... -DSCRATCH=... -DPREFIX=... -DLIBDIR=... -DLIBEXECDIR=...
#         -DVERSION=... -DULONG=ON|OFF -P CheckDebPackage.cmake

function(run)
    execute_process(COMMAND ${ARGN} TIMEOUT 120 RESULT_VARIABLE status OUTPUT_VARIABLE output
                    ERROR_VARIABLE output)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${ARGN}: ${status}\n${output}")
    endif()
    set(output "${output}" PARENT_SCOPE)
endfunction()

function(expect_equal what actual expected)
    if(NOT "${actual}" STREQUAL "${expected}")
        message(FATAL_ERROR "${what}:\n  got      ${actual}\n  expected ${expected}")
    endif()
endfunction()

file(REMOVE_RECURSE ${SCRATCH})
file(MAKE_DIRECTORY ${SCRATCH})
set(root ${SCRATCH}/root)

# Build and unpack.
run(${CPACK} -G DEB --config ${CPACK_CONFIG} -B ${SCRATCH}/packages)
file(GLOB debs ${SCRATCH}/packages/*.deb)
list(LENGTH debs count)
expect_equal("packages built" "${count}" "1")
run(dpkg-deb -x ${debs} ${root})

# Every file and link, and nothing else.
string(REGEX REPLACE "^/" "" prefix "${PREFIX}")
string(REGEX MATCH "^[0-9]+" major "${VERSION}")
string(REGEX MATCH "^[0-9]+\\.[0-9]+\\.[0-9]+" full "${VERSION}")
set(lib ${prefix}/${LIBDIR})
set(expected
    etc/passthru/vtxpts.json
    lib/udev/rules.d/99-vtxpts.rules
    ${prefix}/bin/ptcan
    ${prefix}/include/vtxpts/J2534.h
    ${prefix}/${LIBEXECDIR}/vtxpts/obd_demo
    ${prefix}/${LIBEXECDIR}/vtxpts/passthru_discover
    ${prefix}/${LIBEXECDIR}/vtxpts/uds_flash
    ${lib}/cmake/vtxpts/vtxptsConfig.cmake
    ${lib}/cmake/vtxpts/vtxptsConfigVersion.cmake
    ${lib}/cmake/vtxpts/vtxptsTargets.cmake
    ${lib}/libvtxpts32.so
    ${lib}/libvtxpts32.so.${major}
    ${lib}/libvtxpts32.so.${full}
    ${lib}/pkgconfig/vtxpts.pc)
set(libraries vtxpts32)
if(ULONG)
    list(APPEND libraries vtxpts-ulong)
    list(APPEND expected ${lib}/libvtxpts-ulong.so ${lib}/libvtxpts-ulong.so.${major}
         ${lib}/libvtxpts-ulong.so.${full} ${lib}/pkgconfig/vtxpts-ulong.pc)
endif()
file(GLOB_RECURSE unpacked LIST_DIRECTORIES false RELATIVE ${root} ${root}/*)
# The per-configuration part of the CMake targets file carries the build type in its name.
list(FILTER unpacked EXCLUDE REGEX "/vtxptsTargets-[a-z]+\\.cmake$")
list(SORT unpacked)
list(SORT expected)
expect_equal("package files" "${unpacked}" "${expected}")
foreach(library IN LISTS libraries)
    file(READ_SYMLINK ${root}/${lib}/lib${library}.so link)
    expect_equal("lib${library}.so" "${link}" "lib${library}.so.${major}")
    file(READ_SYMLINK ${root}/${lib}/lib${library}.so.${major} link)
    expect_equal("lib${library}.so.${major}" "${link}" "lib${library}.so.${full}")
endforeach()

# pkg-config, looking only into the scratch root. Leaves the flags in package_flags.
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_LIBDIR} ${root}/${lib}/pkgconfig)
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${root})
function(check_pkg_config package library definitions)
    run(${PKG_CONFIG} --libs ${package})
    string(STRIP "${output}" libs)
    expect_equal("pkg-config --libs ${package}" "${libs}" "-L${root}/${lib} -l${library}")
    run(${PKG_CONFIG} --cflags ${package})
    string(STRIP "${output}" cflags)
    expect_equal("pkg-config --cflags ${package}" "${cflags}"
                 "-I${root}/${prefix}/include${definitions}")
    run(${PKG_CONFIG} --modversion ${package})
    string(STRIP "${output}" modversion)
    expect_equal("pkg-config --modversion ${package}" "${modversion}" "${VERSION}")
    set(package_flags "${cflags} ${libs}" PARENT_SCOPE)
endfunction()

# find_package(vtxpts) against the unpacked tree.
run(${CMAKE_COMMAND} -S ${FIND_PACKAGE_PROJECT} -B ${SCRATCH}/find_package
    -DCMAKE_PREFIX_PATH=${root}/${prefix} -DULONG=${ULONG})

# The client: built from the unpacked header and pkg-config flags, it must need the library by
# its SONAME and run against the simulated device: the versions, the ECU's answer and the bit
# rate read back, through records of the width it was built with.
set(ENV{VTXPTS_DEVICE} sim)
function(check_client package library definitions integerBytes)
    check_pkg_config(${package} ${library} "${definitions}")
    separate_arguments(flags UNIX_COMMAND "${package_flags}")
    set(client ${SCRATCH}/client-${package})
    run(${CXX} -std=c++20 -Wall -Wextra -Werror ${CLIENT_SOURCE} ${flags} -o ${client})
    run(readelf -d ${client})
    if(NOT output MATCHES "NEEDED[^\n]*\\[lib${library}\\.so\\.${major}\\]")
        message(FATAL_ERROR "${client} does not need lib${library}.so.${major}:\n${output}")
    endif()
    set(ENV{LD_LIBRARY_PATH} ${root}/${lib})
    run(${client})
    unset(ENV{LD_LIBRARY_PATH})
    if(NOT output MATCHES "J2534 integers of ${integerBytes} bytes\n"
       OR NOT output MATCHES "PassThruReadVersion: 0 firmware=VTX20[^\n]* library=${VERSION} api=04.04"
       OR NOT output MATCHES "answer from 000007E8: 04 41 0C\n"
       OR NOT output MATCHES "DATA_RATE 500000\n")
        message(FATAL_ERROR "${client}:\n${output}")
    endif()
endfunction()
check_client(vtxpts vtxpts32 "" 4)
if(ULONG)
    check_client(vtxpts-ulong vtxpts-ulong " -DVTXPTS_ULONG" 8)
endif()

# The descriptor names the installed library; a user's copy that points into the scratch root
# is what the discovery example finds first, loads, opens, identifies and closes.
file(READ ${root}/etc/passthru/vtxpts.json descriptor)
set(installed "/${lib}/libvtxpts32.so.${major}")
if(NOT descriptor MATCHES "\"FUNCTION_LIB\": \"${installed}\"" OR NOT EXISTS ${root}${installed})
    message(FATAL_ERROR "descriptor does not name ${installed}:\n${descriptor}")
endif()
string(REPLACE "\"${installed}\"" "\"${root}${installed}\"" descriptor "${descriptor}")
file(WRITE ${SCRATCH}/home/.passthru/vtxpts.json "${descriptor}")
set(ENV{HOME} ${SCRATCH}/home)
run(${root}/${prefix}/${LIBEXECDIR}/vtxpts/passthru_discover "VTX USB-to-CAN")
if(NOT output MATCHES "${SCRATCH}/home/.passthru/vtxpts.json: VTX USB-to-CAN \\(Vantrix\\)"
   OR NOT output MATCHES "protocols: CAN ISO15765\n"
   OR NOT output MATCHES "firmware VTX20[^\n]*, library ${VERSION}, API 04.04")
    message(FATAL_ERROR "passthru_discover:\n${output}")
endif()
message(STATUS "package ${debs}: ${count} package, files, links, pkg-config, find_package, "
               "clients (${libraries}) and discovery checked")
