# The Debian packages velloq-host and velloq-validate, made by `cpack` in
# the native build (scripts/package): each program with its man page (from
# its --help, by help2man) and the licence; velloq-host with the native
# plug-in it loads, in lib/velloq/ (refhost/hosting/module_location.cpp).
# Their run-time dependencies are what dpkg-shlibdeps finds the binaries
# linked against.

find_program(VELLOQ_HELP2MAN help2man REQUIRED)
find_program(VELLOQ_GZIP gzip REQUIRED)

# velloq-<component>: one package per component.
set(velloq_package_components host validate)
set(velloq_host_summary "stamps pictures with the Velloq post-render plug-in")
set(velloq_validate_summary "checks an effector plug-in DLL against the host's contract")
set(velloq_host_details
    "velloq-host loads a post-render plug-in as the Vorlen host does and lets it
stamp its render report into pictures: a built-in scene, single pictures,
folders or numbered sequences of PNG and TGA frames, several frames at
once. Runs share an output folder safely; nothing is replaced unless asked.")
set(velloq_validate_details
    "velloq-validate runs the host's side of the plug-in contract on any
32-bit effector plug-in DLL in an emulated Windows process (Unicorn): no
Windows, Wine or host needed. A line per check, or one JSON document for CI.")

set(man_dir ${PROJECT_BINARY_DIR}/man)
foreach(component IN LISTS velloq_package_components)
  set(program velloq-${component})
  set(page ${man_dir}/${program}.1)
  # gzip -n: no name or time in the compressed page.
  add_custom_command(
    OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${man_dir}
    COMMAND ${VELLOQ_HELP2MAN} --no-info --name=${velloq_${component}_summary}
            --output=${page} $<TARGET_FILE:${program}>
    COMMAND ${VELLOQ_GZIP} -9nf ${page}
    DEPENDS ${program}
    VERBATIM)
  add_custom_target(${program}_man_page ALL DEPENDS ${page}.gz)
  install(FILES ${page}.gz DESTINATION share/man/man1 COMPONENT ${component})
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE.txt DESTINATION share/doc/${program}
          RENAME copyright COMPONENT ${component})
  string(TOUPPER ${component} upper)
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${program})
  set(CPACK_COMPONENT_${upper}_DESCRIPTION
      "${velloq_${component}_summary}\n${velloq_${component}_details}")
endforeach()
install(TARGETS velloq-host RUNTIME DESTINATION bin COMPONENT host)
install(TARGETS velloq LIBRARY DESTINATION lib/velloq COMPONENT host)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velloq)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Velloq)
set(CPACK_PACKAGE_CONTACT "Velloq developers")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL ${velloq_package_components})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
