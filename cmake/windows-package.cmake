# The Windows zip: the programs at its top level, ready to unpack and run,
# and the library with its header (a DLL with its import library in a
# shared build) under include/ and lib/.
install(TARGETS palquant palexpand RUNTIME DESTINATION .)
install(TARGETS qlx RUNTIME DESTINATION . ARCHIVE DESTINATION lib PUBLIC_HEADER DESTINATION include)
install(FILES README.md docs/qlx-format.md DESTINATION .)

# Manual pages as plain UTF-8 text (no overstrikes, no escapes), which any editor
# shows; formatted on the build machine where groff is at hand.
find_program(PAL_GROFF groff)
foreach(page palquant palexpand)
  if(PAL_GROFF)
    add_custom_command(
      OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.txt
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
      COMMAND ${PAL_GROFF} -t -man -Tutf8 -rHY=0 -P-cbou ${CMAKE_CURRENT_SOURCE_DIR}/docs/${page}.1
              > ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.txt
      DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/docs/${page}.1
      VERBATIM)
    list(APPEND text_pages ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.txt)
  else()
    list(APPEND text_pages ${CMAKE_CURRENT_SOURCE_DIR}/docs/${page}.1)
  endif()
endforeach()
add_custom_target(manual_pages ALL DEPENDS ${text_pages})
install(FILES ${text_pages} DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME palconvert)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_SYSTEM_NAME windows-x64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_STRIP_FILES ON)
include(CPack)
