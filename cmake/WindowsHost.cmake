# The host's sync and calendar reader in the Windows builds, on the dependencies that
# cmake/WindowsDeps.cmake cross-builds. Included by host/CMakeLists.txt after its targets.
include(${PROJECT_SOURCE_DIR}/cmake/WindowsDeps.cmake)
set(host_core ${PROJECT_SOURCE_DIR}/host/core)

if(CEBRIDGE_ICALENDAR_IMPORT)
  target_link_libraries(cebridge_hostcore PRIVATE cebridge_libical)
  target_compile_definitions(cebridge_hostcore PRIVATE CEBRIDGE_HAVE_LIBICAL)
  # libical finds its zones in a "zoneinfo" folder beside the program.
  ExternalProject_Add_Step(libical_build zoneinfo
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${CEBRIDGE_LIBICAL_ZONEINFO_INSTALLED}
            ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/zoneinfo
    DEPENDEES install)
endif()

if(CEBRIDGE_SYNC)
  # The Linux files of the HTTP client and XML reader give way to Windows' own.
  file(GLOB sync_sources CONFIGURE_DEPENDS ${host_core}/sync*.cpp)
  list(FILTER sync_sources EXCLUDE REGEX "/sync_(curl|dav)\\.cpp$")
  target_sources(cebridge_hostcore PRIVATE ${sync_sources} ${host_core}/win32/sync_dav_win.cpp)
  set_source_files_properties(${host_core}/win32/sync_dav_win.cpp PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
  target_link_libraries(cebridge_hostcore PRIVATE cebridge_sqlite3 winhttp shlwapi)
  target_compile_definitions(cebridge_hostcore PUBLIC CEBRIDGE_HAVE_SYNC)
endif()
