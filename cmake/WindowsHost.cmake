# The host's sync layer and iCalendar reader in the Windows builds, on what
# cmake/WindowsDeps.cmake cross-builds. Included by host/core/CMakeLists.txt, where
# the layers are made.
include(${PROJECT_SOURCE_DIR}/cmake/WindowsDeps.cmake)

if(CEBRIDGE_ICALENDAR_IMPORT)
  target_link_libraries(cebridge_host_formats PRIVATE cebridge_libical)
  target_compile_definitions(cebridge_host_formats PRIVATE CEBRIDGE_HAVE_LIBICAL)
  # libical finds its zones in a "zoneinfo" folder beside the program.
  ExternalProject_Add_Step(libical_build zoneinfo
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${CEBRIDGE_LIBICAL_ZONEINFO_INSTALLED}
            ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/zoneinfo
    DEPENDEES install)
endif()

if(CEBRIDGE_SYNC)
  cebridge_host_layer(sync cebridge_host_ops)
  # The Linux files of the HTTP client and XML reader give way to Windows' own.
  set_source_files_properties(sync/sync_dav.cpp sync/sync_curl.cpp PROPERTIES HEADER_FILE_ONLY ON)
  target_sources(cebridge_host_sync PRIVATE sync/win32/sync_dav_win.cpp)
  set_source_files_properties(sync/win32/sync_dav_win.cpp PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
  target_link_libraries(cebridge_host_sync PRIVATE cebridge_sqlite3 winhttp shlwapi)
  target_compile_definitions(cebridge_host_sync PUBLIC CEBRIDGE_HAVE_SYNC)
  list(APPEND layers sync)
endif()

# The zip has the zones beside the program, where libical looks.
if(CEBRIDGE_ICALENDAR_IMPORT)
  install(DIRECTORY ${CEBRIDGE_LIBICAL_ZONEINFO_INSTALLED}/ DESTINATION ${CEBRIDGE_INSTALL_BIN}/zoneinfo)
endif()
