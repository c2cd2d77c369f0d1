# What a user gets: the Windows release zip and installer (cpack, or the
# `package` target) and, on Linux, `cmake --install` of the program with the sandbox, the
# emulated simulator, the examples, the documentation, and what runs the
# program at boot beside a cockpit (a systemd service, its user, a udev rule
# for the panels). The program's own install rule and the version resource
# are in src/app/CMakeLists.txt.

set(corvane_user_docs
  ${PROJECT_SOURCE_DIR}/docs/installation.md
  ${PROJECT_SOURCE_DIR}/docs/configuration.md
  ${PROJECT_SOURCE_DIR}/docs/troubleshooting.md
  ${PROJECT_SOURCE_DIR}/docs/linux.md
  ${PROJECT_SOURCE_DIR}/docs/remote.md)
set(corvane_examples
  ${PROJECT_SOURCE_DIR}/examples/config.json
  ${PROJECT_SOURCE_DIR}/examples/hid_event_map.json
  ${PROJECT_SOURCE_DIR}/examples/button_config.json)

if(WIN32)
  # The examples go where the program's default search finds them: a
  # "config" folder beside CorvaneHID.exe. Text files get names that
  # Windows opens with a double click.
  install(FILES ${corvane_examples} DESTINATION config)
  install(FILES ${corvane_user_docs} DESTINATION docs)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/package_readme.txt.in
    ${PROJECT_BINARY_DIR}/package/README.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${PROJECT_BINARY_DIR}/package/README.txt DESTINATION .)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
  # The installer, CorvaneHID-<version>-setup.exe beside the zip: cpack
  # stages the same install rules once more and packaging/windows makes an
  # NSIS installer of that folder (makensis: Debian's nsis package).
  find_program(CORVANE_MAKENSIS makensis)
  if(CORVANE_MAKENSIS)
    list(APPEND CPACK_GENERATOR External)
  else()
    message(WARNING "makensis not found (apt-get install nsis): the package target makes no installer")
  endif()
  set(CPACK_EXTERNAL_ENABLE_STAGING ON)
  set(CPACK_EXTERNAL_PACKAGE_SCRIPT ${PROJECT_SOURCE_DIR}/packaging/windows/make_installer.cmake)
  set(CPACK_CORVANE_MAKENSIS "${CORVANE_MAKENSIS}")
  set(CPACK_CORVANE_NSI ${PROJECT_SOURCE_DIR}/packaging/windows/installer.nsi)
else()
  include(GNUInstallDirs)
  if(TARGET corvanehid-sandbox)
    install(TARGETS corvanehid-sandbox RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
  # The emulated simulator, for trying a program against it on this machine.
  if(TARGET corvanehid-simulator)
    install(TARGETS corvanehid-simulator RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES ${PROJECT_SOURCE_DIR}/docs/simulator.md
      DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/corvanehid/docs)
  endif()
  install(FILES ${corvane_examples} DESTINATION ${CMAKE_INSTALL_DATADIR}/corvanehid/examples)
  # The README's links lead into docs/, as in the sources.
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/corvanehid)
  install(FILES ${corvane_user_docs} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/corvanehid/docs)

  # Starting at boot (remote.md). systemd, udev and sysusers look in
  # <prefix>/lib (also for the prefix /usr/local), never in lib64 or a
  # multiarch folder. The service names the installed program, so it is
  # written at install time, for the prefix given then (--prefix).
  set(linux_packaging ${PROJECT_SOURCE_DIR}/packaging/linux)
  install(FILES ${linux_packaging}/70-corvanehid.rules DESTINATION lib/udev/rules.d)
  install(FILES ${linux_packaging}/corvanehid.sysusers DESTINATION lib/sysusers.d
    RENAME corvanehid.conf)
  configure_file(${linux_packaging}/install_service.cmake.in
    ${PROJECT_BINARY_DIR}/packaging/install_service.cmake @ONLY)
  install(SCRIPT ${PROJECT_BINARY_DIR}/packaging/install_service.cmake)
  set(CPACK_GENERATOR TGZ)
  set(CPACK_SYSTEM_NAME "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}")
endif()

set(CPACK_PACKAGE_NAME CorvaneHID)
set(CPACK_PACKAGE_VENDOR "CorvaneHID developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_FILE_NAME "CorvaneHID-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
# Release binaries carry no debug information.
set(CPACK_STRIP_FILES ON)
# Only the files above: no source package of the build folders.
set(CPACK_SOURCE_IGNORE_FILES "/build/;/build-;/\\\\.git;/fuzz/corpus-work/")
include(CPack)
