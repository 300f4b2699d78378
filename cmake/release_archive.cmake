# The release archive an artist gets, made by the module's own build right
# after the DLL: Velloq-<version>-win32.zip holds one folder with the
# stripped DLL the tests load, its debug information, the artist's README,
# the licence and SHA-256 sums of those four files. Its bytes depend on
# those files alone (cmake/write_release_archive.cmake), so anyone can
# rebuild the release in any folder and match it.

find_program(VELLOQ_ZIP zip REQUIRED)
set(release_name Velloq-${PROJECT_VERSION}-win32)
set(release_dir ${PROJECT_BINARY_DIR}/release/${release_name})
# Windows users read these in Notepad, which wants CRLF line ends.
configure_file(${PROJECT_SOURCE_DIR}/docs/artist_readme.txt ${release_dir}/README.txt @ONLY
               NEWLINE_STYLE CRLF)
configure_file(${PROJECT_SOURCE_DIR}/LICENSE.txt ${release_dir}/LICENSE.txt @ONLY
               NEWLINE_STYLE CRLF)

set(archive_dir ${PROJECT_BINARY_DIR})
if(VELLOQ_ARCHIVE_OUTPUT_DIR)
  set(archive_dir ${VELLOQ_ARCHIVE_OUTPUT_DIR})
endif()
set(archive ${archive_dir}/${release_name}.zip)
set(module $<TARGET_FILE:velloq>)
set(script ${PROJECT_SOURCE_DIR}/cmake/write_release_archive.cmake)
add_custom_command(
  OUTPUT ${archive}
  COMMAND ${CMAKE_COMMAND} -DSTAGE=${release_dir} "-DCOPY=${module}|${module}.debug"
          "-DNAMES=Velloq.dll|Velloq.dll.debug|README.txt|LICENSE.txt" -DARCHIVE=${archive}
          -DZIP=${VELLOQ_ZIP} -P ${script}
  DEPENDS velloq ${release_dir}/README.txt ${release_dir}/LICENSE.txt ${script}
  VERBATIM)
add_custom_target(release_archive ALL DEPENDS ${archive})
