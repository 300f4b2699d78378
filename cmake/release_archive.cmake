# The release archive an artist gets: `cmake --build --preset win32 --target
# package` writes Velloq-<version>-win32.zip into the build folder. It holds
# the stripped DLL the tests ran, its debug information, the artist's README,
# the licence and SHA-256 sums of those four files.

set(release_dir ${PROJECT_BINARY_DIR}/release)
# Windows users read these in Notepad, which wants CRLF line ends.
configure_file(${PROJECT_SOURCE_DIR}/docs/artist_readme.txt ${release_dir}/README.txt @ONLY
               NEWLINE_STYLE CRLF)
configure_file(${PROJECT_SOURCE_DIR}/LICENSE.txt ${release_dir}/LICENSE.txt @ONLY
               NEWLINE_STYLE CRLF)

set(release_files ${VELLOQ_MODULE_FILE} ${VELLOQ_MODULE_FILE}.debug ${release_dir}/README.txt
                  ${release_dir}/LICENSE.txt)
add_custom_command(
  OUTPUT ${release_dir}/SHA256SUMS
  COMMAND ${CMAKE_COMMAND} -DOUTPUT=${release_dir}/SHA256SUMS "-DFILES=${release_files}"
          -P ${PROJECT_SOURCE_DIR}/cmake/write_checksums.cmake
  DEPENDS ${release_files} ${PROJECT_SOURCE_DIR}/cmake/write_checksums.cmake velloq
  VERBATIM)
add_custom_target(release_checksums ALL DEPENDS ${release_dir}/SHA256SUMS)

install(FILES ${release_files} ${release_dir}/SHA256SUMS DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Velloq)
set(CPACK_PACKAGE_VENDOR Velloq)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME Velloq-${PROJECT_VERSION}-win32)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_VERBATIM_VARIABLES ON)
include(CPack)
