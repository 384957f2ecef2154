# The install rules (layout in cmake/Install.cmake), the man page, and CPack: a Debian
# package on Linux, a zip on Windows.
install(TARGETS cebridge_host RUNTIME DESTINATION ${CEBRIDGE_INSTALL_BIN})
install(TARGETS cebridge ceemu LIBRARY DESTINATION ${CEBRIDGE_INSTALL_LIBS} RUNTIME DESTINATION ${CEBRIDGE_INSTALL_LIBS})
if(TARGET cebridge_serve)
  install(TARGETS cebridge_serve LIBRARY DESTINATION ${CEBRIDGE_INSTALL_LIBS})
endif()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/dtd/ DESTINATION ${CEBRIDGE_INSTALL_DATA}/dtd)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/phones/demo DESTINATION ${CEBRIDGE_INSTALL_DATA}/phones)
install(FILES ${PROJECT_SOURCE_DIR}/include/cebridge/agent.h ${PROJECT_SOURCE_DIR}/include/cebridge/rapi.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/cebridge)

if(WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/windows-zip.txt DESTINATION . RENAME README.txt)
else()
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/cebridge.md
          ${PROJECT_SOURCE_DIR}/docs/device-image.md ${PROJECT_SOURCE_DIR}/docs/windows.md
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/data/completions/cebridge.bash
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME cebridge)
  install(FILES ${PROJECT_SOURCE_DIR}/data/completions/_cebridge DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
  # The man page is made from the program's own --help (help2man) and the sections of
  # data/cebridge.h2m, so it says what the program says.
  find_program(HELP2MAN help2man)
  if(HELP2MAN AND NOT CMAKE_CROSSCOMPILING)
    set(man_page ${CMAKE_BINARY_DIR}/cebridge.1.gz)
    add_custom_command(OUTPUT ${man_page}
      COMMAND ${HELP2MAN} --no-info --no-discard-stderr --section=1
              --name=reach\ Windows\ Mobile\ phones\ through\ the\ cebridge\ plug-in
              --include=${PROJECT_SOURCE_DIR}/data/cebridge.h2m --output=${CMAKE_BINARY_DIR}/cebridge.1
              $<TARGET_FILE:cebridge_host>
      COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/cebridge.1
      DEPENDS cebridge_host ${PROJECT_SOURCE_DIR}/data/cebridge.h2m
      COMMENT "Making the man page cebridge(1)")
    add_custom_target(cebridge_man ALL DEPENDS ${man_page})
    install(FILES ${man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endif()

set(CPACK_PACKAGE_NAME cebridge)
set(CPACK_PACKAGE_VENDOR "the cebridge developers")
set(CPACK_PACKAGE_CONTACT "cebridge developers <developers@cebridge.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "reach Windows Mobile and Windows CE phones from a PC")
# (Debian reads the description line by line: each under 80 characters.)
set(CPACK_PACKAGE_DESCRIPTION "cebridge is a session plug-in that a PC synchronisation host loads to reach
Windows Mobile and Windows CE phones through their Remote API, with the host
program cebridge (files, contacts, calendar, calls, messages, backups, sync and
a browser page) and ceemu, an emulated phone with a demo phone to explore.")
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_SYSTEM_NAME windows-i686)
  else()
    set(CPACK_SYSTEM_NAME windows-x64)
  endif()
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The serve module and the plug-in live in a private folder: shlibdeps looks there too.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
  # libcurl is loaded by name when sync first reaches a server (no link, so no shlibdeps).
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libcurl4")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # Debian asks for the copyright and a changelog in the package's doc folder.
  configure_file(${PROJECT_SOURCE_DIR}/data/debian/copyright ${CMAKE_BINARY_DIR}/debian/copyright COPYONLY)
  install(FILES ${CMAKE_BINARY_DIR}/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/debian/changelog.gz
    COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/data/debian/changelog > ${CMAKE_BINARY_DIR}/debian/changelog.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/data/debian/changelog)
  add_custom_target(cebridge_debian_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog.gz)
  install(FILES ${CMAKE_BINARY_DIR}/debian/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
include(CPack)
