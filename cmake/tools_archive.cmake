# The Windows tools archive a pipeline TD gets beside the plug-in's:
# Velloq-tools-<version>-win32.zip holds one folder with velloq-host.exe
# (stripped; it loads Velloq.dll from its own folder), its README, the
# licence and SHA-256 sums. Reproducible as the plug-in's archive is: the
# program carries no build path and no link time, and the archive's bytes
# depend on the files alone (cmake/write_release_archive.cmake).

find_program(VELLOQ_ZIP zip REQUIRED)
set(tools_name Velloq-tools-${PROJECT_VERSION}-win32)
set(tools_dir ${PROJECT_BINARY_DIR}/release/${tools_name})
# Windows users read these in Notepad, which wants CRLF line ends.
configure_file(${PROJECT_SOURCE_DIR}/docs/tools_readme.txt ${tools_dir}/README.txt @ONLY
               NEWLINE_STYLE CRLF)
configure_file(${PROJECT_SOURCE_DIR}/LICENSE.txt ${tools_dir}/LICENSE.txt @ONLY
               NEWLINE_STYLE CRLF)

# objcopy stamps the time into what it writes unless SOURCE_DATE_EPOCH
# says otherwise.
set(stripped ${PROJECT_BINARY_DIR}/release/stripped/velloq-host.exe)
add_custom_command(
  OUTPUT ${stripped}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/release/stripped
  COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0 ${CMAKE_OBJCOPY} --strip-all
          $<TARGET_FILE:velloq-host> ${stripped}
  DEPENDS velloq-host
  VERBATIM)
set(tools_archive ${PROJECT_BINARY_DIR}/${tools_name}.zip)
set(script ${PROJECT_SOURCE_DIR}/cmake/write_release_archive.cmake)
add_custom_command(
  OUTPUT ${tools_archive}
  COMMAND ${CMAKE_COMMAND} -DSTAGE=${tools_dir} -DCOPY=${stripped}
          "-DNAMES=velloq-host.exe|README.txt|LICENSE.txt" -DARCHIVE=${tools_archive}
          -DZIP=${VELLOQ_ZIP} -P ${script}
  DEPENDS ${stripped} ${tools_dir}/README.txt ${tools_dir}/LICENSE.txt ${script}
  VERBATIM)
add_custom_target(tools_archive ALL DEPENDS ${tools_archive})
