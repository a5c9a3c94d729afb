# Installation and packages. On Windows, `cpack -G ZIP` gives a zip of both
# programs and the library with the README, the format document and the
# manual pages as plain text. Elsewhere the programs go to bin/, the library
# to lib/ with its header, pkg-config file and CMake package, and the manual
# pages to share/man, below any CMAKE_INSTALL_PREFIX; `cpack -G DEB` builds
# the Debian packages: palconvert (the programs), libqlx1 (the shared
# library, in a shared build) and libqlx-dev.
if(WIN32)
  include(cmake/windows-package.cmake)
  return()
endif()

install(TARGETS palquant palexpand RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT programs)
if(TARGET qlx_command)
  install(TARGETS qlx_command RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT programs)
endif()

# The library: find_package(qlx CONFIG) and pkg-config both find it, below
# whatever prefix it is installed to.
include(CMakePackageConfigHelpers)
set(qlx_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/qlx)
install(TARGETS qlx EXPORT qlxTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library NAMELINK_COMPONENT development
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
if(BUILD_SHARED_LIBS)
  # A shared build installs the static library the programs link too, for
  # `pkg-config --static`.
  set_target_properties(qlx_static PROPERTIES OUTPUT_NAME qlx)
  install(TARGETS qlx_static ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
endif()
install(EXPORT qlxTargets NAMESPACE qlx:: DESTINATION ${qlx_cmake_dir} COMPONENT development)
configure_package_config_file(cmake/qlxConfig.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/qlxConfig.cmake
  INSTALL_DESTINATION ${qlx_cmake_dir})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/qlxConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/qlxConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/qlxConfigVersion.cmake
  DESTINATION ${qlx_cmake_dir} COMPONENT development)

# The static library needs the C++ runtime and threads, which a C program's
# link does not bring by itself. The plain `pkg-config --libs qlx` of a
# static install names them too, so that the line a user copies first links;
# a shared library brings them itself.
file(RELATIVE_PATH QLX_PC_PREFIX_FROM_PCFILEDIR /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
set(qlx_runtime_libs "-lstdc++ -lm -pthread")
if(BUILD_SHARED_LIBS)
  set(QLX_PC_LIBS "-L\${libdir} -lqlx")
  set(QLX_PC_PRIVATE_LIBS "${qlx_runtime_libs}")
else()
  set(QLX_PC_LIBS "-L\${libdir} -lqlx ${qlx_runtime_libs}")
  set(QLX_PC_PRIVATE_LIBS "")
endif()
configure_file(cmake/qlx.pc.in ${CMAKE_CURRENT_BINARY_DIR}/qlx.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/qlx.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

# Debian installs manual pages compressed.
foreach(page palquant.1 palexpand.1 qlx.1 qlx.3)
  add_custom_command(
    OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
    COMMAND gzip -9 -n -c ${CMAKE_CURRENT_SOURCE_DIR}/docs/${page} > ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.gz
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/docs/${page}
    VERBATIM)
endforeach()
add_custom_target(manual_pages ALL DEPENDS
  ${CMAKE_CURRENT_BINARY_DIR}/man/palquant.1.gz ${CMAKE_CURRENT_BINARY_DIR}/man/palexpand.1.gz
  ${CMAKE_CURRENT_BINARY_DIR}/man/qlx.1.gz ${CMAKE_CURRENT_BINARY_DIR}/man/qlx.3.gz)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/man/palquant.1.gz ${CMAKE_CURRENT_BINARY_DIR}/man/palexpand.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT programs)
if(TARGET qlx_command)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/man/qlx.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT programs)
endif()
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/man/qlx.3.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 COMPONENT development)

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_PACKAGE_NAME palconvert)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert pictures to and from 256-colour QLX files")
set(CPACK_PACKAGE_CONTACT "palconvert maintainers <maintainers@palconvert.invalid>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "palconvert maintainers <maintainers@palconvert.invalid>")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "convert pictures to and from 256-colour QLX files
 palquant maps every pixel of a 24-bit BMP to the nearest colour of a fixed
 256-colour palette (city-block distance, lowest index on ties) and writes
 the indices as a headerless QLX file. palexpand turns a 320 x 200 QLX file
 back into a 24-bit BMP. qlx converts PNG, JPEG, GIF, BMP and QLX to QLX,
 indexed PNG and indexed BMP, keeping the indices of pictures already in
 the palette, a folder at a time, and writes the palette for editors.
 Outputs are replaced atomically.")
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME palconvert)
set(CPACK_DEBIAN_PROGRAMS_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME libqlx${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIBRARY_DESCRIPTION
  "exact conversion of true-colour pixels to a fixed 256-colour palette (library)
 libqlx maps pixels to the nearest colour of a fixed 256-colour palette
 (city-block distance, lowest index on ties), optionally dithered, and reads
 and writes 24-bit BMP and QLX index pictures in memory, byte for byte as
 the palquant and palexpand programs do.")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libqlx-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
  "exact conversion of true-colour pixels to a fixed 256-colour palette (development files)
 The C header, the static library, a pkg-config file, a CMake package and
 the qlx(3) manual page for libqlx.")
if(BUILD_SHARED_LIBS)
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libqlx${PROJECT_VERSION_MAJOR} (= ${PROJECT_VERSION})")
  set(CPACK_COMPONENTS_ALL programs library development)
else()
  set(CPACK_COMPONENTS_ALL programs development)
endif()
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends is worked out from the binaries: the C runtime, and for qlx the
# codec libraries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
