# Installation and packages. On Windows, `cpack -G ZIP` gives a zip of both
# programs with the README, the format document and the manual pages as
# plain text. Elsewhere the programs go to bin/ and the manual pages to
# share/man/man1, below any CMAKE_INSTALL_PREFIX, and `cpack -G DEB` builds
# the Debian package.
if(WIN32)
  include(cmake/windows-package.cmake)
  return()
endif()

include(GNUInstallDirs)

install(TARGETS palquant palexpand RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Debian installs manual pages compressed.
foreach(page palquant.1 palexpand.1)
  add_custom_command(
    OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
    COMMAND gzip -9 -n -c ${CMAKE_CURRENT_SOURCE_DIR}/docs/${page} > ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.gz
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/docs/${page}
    VERBATIM)
  list(APPEND compressed_pages ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.gz)
endforeach()
add_custom_target(manual_pages ALL DEPENDS ${compressed_pages})
install(FILES ${compressed_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME palconvert)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert 24-bit BMP pictures to and from 256-colour QLX files")
set(CPACK_PACKAGE_CONTACT "palconvert maintainers <maintainers@palconvert.invalid>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "palconvert maintainers <maintainers@palconvert.invalid>")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "convert 24-bit BMP pictures to and from 256-colour QLX files
 palquant maps every pixel of a 24-bit BMP to the nearest colour of a fixed
 256-colour palette (city-block distance, lowest index on ties) and writes
 the indices as a headerless QLX file. palexpand turns a 320 x 200 QLX file
 back into a 24-bit BMP. Outputs are replaced atomically.")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends is worked out from the binaries: the C and C++ runtimes alone.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
include(CPack)
