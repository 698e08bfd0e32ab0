# Installing on Linux and packaging with CPack: the shared library with its SONAME and versioned
# links, the header, a pkg-config file, a CMake package config (find_package(vtxpts) gives the
# imported target vtxpts::vtxpts32), ptcan and the example programs, the device descriptor that
# Linux J2534 clients scan for, and a udev rule for the device's USB node. `cpack -G DEB` and
# `cpack -G TGZ` in a build folder make the packages (scripts/package.sh).
if(WIN32)
    return()
endif()

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The ABI is that of the fourteen functions: the SONAME carries the major version only. The
# unsigned-long library (where there is one) goes beside the 32-bit one, with its own SONAME, and
# its users build with VTXPTS_ULONG, which gives the header's records and functions unsigned long
# integers.
set(VTX_INSTALLED_LIBRARIES vtxpts32)
if(VTX_ULONG_LIBRARY)
    list(APPEND VTX_INSTALLED_LIBRARIES vtxpts_ulong)
    set_target_properties(vtxpts_ulong PROPERTIES INTERFACE_COMPILE_DEFINITIONS VTXPTS_ULONG)
endif()
set_target_properties(${VTX_INSTALLED_LIBRARIES} PROPERTIES
    VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}
    SOVERSION ${PROJECT_VERSION_MAJOR})

# The public header: the J2534 vocabulary, the entry points' types and the fourteen functions
# themselves. A client includes it as <vtxpts/J2534.h> and needs nothing else of the tree, so it
# is made whole from the two headers of the tree that hold those (regenerated when they change).
set(VTX_VOCABULARY_HEADER ${PROJECT_SOURCE_DIR}/base/J2534.h)
set(VTX_FUNCTIONS_HEADER ${PROJECT_SOURCE_DIR}/api/PassThruFunctions.h)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${VTX_VOCABULARY_HEADER} ${VTX_FUNCTIONS_HEADER})
file(READ ${VTX_VOCABULARY_HEADER} vocabulary)
file(READ ${VTX_FUNCTIONS_HEADER} functions)
string(REGEX REPLACE "#pragma once\n|#include <cstdint>\n|#include \"base/J2534.h\"\n" ""
       functions "${functions}")
set(VTX_PUBLIC_HEADER ${PROJECT_BINARY_DIR}/public/vtxpts/J2534.h)
file(CONFIGURE OUTPUT ${VTX_PUBLIC_HEADER} CONTENT "${vocabulary}\n${functions}" @ONLY)

# Where things go. The descriptor and the udev rule live where the system looks for them,
# whatever the prefix.
set(VTX_INCLUDE_SUBDIR vtxpts)
set(VTX_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/vtxpts)
set(VTX_EXAMPLES_DIR ${CMAKE_INSTALL_LIBEXECDIR}/vtxpts)
set(VTX_DESCRIPTOR_DIR /etc/passthru)
set(VTX_UDEV_RULES_DIR /lib/udev/rules.d)
set(VTX_SONAME_FILE libvtxpts32.so.${PROJECT_VERSION_MAJOR})
set(VTX_INSTALLED_LIBRARY ${CMAKE_INSTALL_FULL_LIBDIR}/${VTX_SONAME_FILE})

install(TARGETS ${VTX_INSTALLED_LIBRARIES} EXPORT vtxptsTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${VTX_PUBLIC_HEADER} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${VTX_INCLUDE_SUBDIR}
        RENAME J2534.h)
install(TARGETS ptcan RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS obd_demo uds_flash passthru_discover RUNTIME DESTINATION ${VTX_EXAMPLES_DIR})

# pkg-config: `pkg-config --cflags --libs vtxpts` (32-bit integers) and, for programs built with
# the standard header's unsigned long, `pkg-config --cflags --libs vtxpts-ulong`.
function(vtx_pkg_config name library flags)
    set(VTX_PC_NAME ${name})
    set(VTX_PC_LIBRARY ${library})
    set(VTX_PC_CFLAGS ${flags})
    configure_file(${PROJECT_SOURCE_DIR}/install/linux/vtxpts.pc.in
                   ${CMAKE_CURRENT_BINARY_DIR}/install/${name}.pc @ONLY)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/install/${name}.pc
            DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endfunction()
vtx_pkg_config(vtxpts vtxpts32 "")
if(VTX_ULONG_LIBRARY)
    vtx_pkg_config(vtxpts-ulong vtxpts-ulong " -DVTXPTS_ULONG")
endif()

# CMake: find_package(vtxpts) and target_link_libraries(app PRIVATE vtxpts::vtxpts32), or
# vtxpts::vtxpts_ulong (which brings VTXPTS_ULONG with it).
install(EXPORT vtxptsTargets NAMESPACE vtxpts:: DESTINATION ${VTX_CMAKE_PACKAGE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/install/linux/vtxptsConfig.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/install/vtxptsConfig.cmake
    INSTALL_DESTINATION ${VTX_CMAKE_PACKAGE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/install/vtxptsConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/install/vtxptsConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/install/vtxptsConfigVersion.cmake
        DESTINATION ${VTX_CMAKE_PACKAGE_DIR})

# The descriptor Linux J2534 clients read: it names the installed library by its SONAME.
configure_file(${PROJECT_SOURCE_DIR}/install/linux/vtxpts.json.in
               ${CMAKE_CURRENT_BINARY_DIR}/install/vtxpts.json @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/install/vtxpts.json DESTINATION ${VTX_DESCRIPTOR_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/install/linux/99-vtxpts.rules
        DESTINATION ${VTX_UDEV_RULES_DIR})

# Packages. The DEB and the tar.gz hold the same tree, rooted at / (the tar.gz unpacks with
# `tar -C / -xzf`). Installing through DESTDIR keeps the absolute destinations (/etc, /lib) inside
# the package instead of writing them to this machine.
set(CPACK_PACKAGE_NAME vtxpts)
set(CPACK_PACKAGE_VENDOR "Vantrix")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_CONTACT "Vantrix <support@vantrix.invalid>")
set(CPACK_SET_DESTDIR ON)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_GENERATOR DEB TGZ)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
# The descriptor is the administrator's to edit: an upgrade keeps their changes.
configure_file(${PROJECT_SOURCE_DIR}/install/linux/conffiles.in
               ${CMAKE_CURRENT_BINARY_DIR}/install/conffiles @ONLY)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_BINARY_DIR}/install/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
