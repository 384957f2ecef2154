# What the Windows builds need that Debian ships built for Linux only, cross-built here
# with MinGW from Debian's own source packages (scripts/setup.sh fetches them with
# `apt-get source` into CEBRIDGE_DEBIAN_SOURCES):
#   cebridge_sqlite3   SQLite, from the single-file amalgamation its source tree makes
#                      (`cebridge sync` keeps its state in it)
#   cebridge_libical   the iCalendar reader (calendar import, restore --calendar, sync)
#   cebridge_httplib   cpp-httplib, its whole library in one header (`cebridge serve`)
# Each is built once per build tree, in it, and reused by every later build of it.
include(ExternalProject)

set(debian_sources_default "$ENV{CEBRIDGE_DEBIAN_SOURCES}")
if(NOT debian_sources_default)
  set(debian_sources_default "$ENV{HOME}/.cache/cebridge/debian-src")
endif()
set(CEBRIDGE_DEBIAN_SOURCES "${debian_sources_default}" CACHE PATH
    "Where scripts/setup.sh unpacked Debian's source packages (apt-get source)")

# The unpacked tree of a source package: the one folder beside its tarballs.
function(cebridge_debian_source package out)
  file(GLOB trees LIST_DIRECTORIES true "${CEBRIDGE_DEBIAN_SOURCES}/${package}/*")
  list(FILTER trees EXCLUDE REGEX "\\.(dsc|xz|gz|bz2)$")
  if(NOT trees)
    message(FATAL_ERROR "No source of ${package} in ${CEBRIDGE_DEBIAN_SOURCES}: run scripts/setup.sh")
  endif()
  list(GET trees 0 tree)
  set(${out} ${tree} PARENT_SCOPE)
endfunction()

set(windows_deps ${CMAKE_BINARY_DIR}/windows-deps)

# --- SQLite: its amalgamation is made on the build machine (tclsh and the native
# compiler run its generators), then compiled for Windows like any of our files.
cebridge_debian_source(sqlite3 sqlite_source)
set(sqlite_amalgamation ${windows_deps}/sqlite3-amalgamation)
ExternalProject_Add(sqlite3_amalgamation
  SOURCE_DIR ${sqlite_source}
  BINARY_DIR ${sqlite_amalgamation}
  CONFIGURE_COMMAND env -u CC -u CXX -u CFLAGS ${sqlite_source}/configure --disable-tcl --quiet
  BUILD_COMMAND make -s sqlite3.c
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${sqlite_amalgamation}/sqlite3.c ${sqlite_amalgamation}/sqlite3.h
  LOG_CONFIGURE ON LOG_BUILD ON LOG_OUTPUT_ON_FAILURE ON)
add_library(cebridge_sqlite3 STATIC ${sqlite_amalgamation}/sqlite3.c)
add_dependencies(cebridge_sqlite3 sqlite3_amalgamation)
set_target_properties(cebridge_sqlite3 PROPERTIES UNITY_BUILD OFF)
target_include_directories(cebridge_sqlite3 SYSTEM INTERFACE ${sqlite_amalgamation})
# SQLite's own code is not ours to hold to our warning flags. No extension is loaded
# from files; string literals are only single-quoted.
target_compile_options(cebridge_sqlite3 PRIVATE -w)
target_compile_definitions(cebridge_sqlite3 PRIVATE SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION SQLITE_DQS=0
                           SQLITE_DEFAULT_FOREIGN_KEYS=1)

# --- libical: its own CMake build, with MinGW through our toolchain file, as a static
# library with the zone data it carries (Windows has no zoneinfo folder).
cebridge_debian_source(libical3 libical_source)
set(libical_prefix ${windows_deps}/libical)
if(CMAKE_STATIC_LIBRARY_PREFIX STREQUAL "")
  set(libical_library ${libical_prefix}/lib/ical.lib)
else()
  set(libical_library ${libical_prefix}/lib/libical.a)
endif()
ExternalProject_Add(libical_build
  SOURCE_DIR ${libical_source}
  BINARY_DIR ${windows_deps}/libical-build
  INSTALL_DIR ${libical_prefix}
  CMAKE_GENERATOR Ninja
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}
    -DCEBRIDGE_MINGW_ARCH=${CEBRIDGE_MINGW_ARCH}
    -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_INSTALL_PREFIX=<INSTALL_DIR>
    -DSTATIC_ONLY=ON -DSHARED_ONLY=OFF -DUSE_BUILTIN_TZDATA=ON
    -DICAL_GLIB=OFF -DICAL_BUILD_DOCS=OFF -DLIBICAL_BUILD_TESTING=OFF -DWITH_CXX_BINDINGS=OFF
    -DGOBJECT_INTROSPECTION=OFF -DICAL_GLIB_VAPI=OFF
    -DCMAKE_DISABLE_FIND_PACKAGE_ICU=ON -DCMAKE_DISABLE_FIND_PACKAGE_BDB=ON
  BUILD_BYPRODUCTS ${libical_library}
  LOG_CONFIGURE ON LOG_BUILD ON LOG_INSTALL ON LOG_OUTPUT_ON_FAILURE ON)
file(MAKE_DIRECTORY ${libical_prefix}/include)
add_library(cebridge_libical STATIC IMPORTED GLOBAL)
set_target_properties(cebridge_libical PROPERTIES IMPORTED_LOCATION ${libical_library})
target_include_directories(cebridge_libical SYSTEM INTERFACE ${libical_prefix}/include)
target_compile_definitions(cebridge_libical INTERFACE LIBICAL_ICAL_STATIC_DEFINE)
add_dependencies(cebridge_libical libical_build)
# The zones libical knows by name are files it reads when first asked.
set(CEBRIDGE_LIBICAL_ZONEINFO_INSTALLED ${libical_prefix}/share/libical/zoneinfo)

# --- cpp-httplib: Debian's -dev package holds only the declarations of a library built
# for Linux; the source package's header is the whole library, and MinGW builds it.
cebridge_debian_source(cpp-httplib httplib_source)
set(CEBRIDGE_HTTPLIB_INCLUDE ${windows_deps}/httplib)
file(MAKE_DIRECTORY ${CEBRIDGE_HTTPLIB_INCLUDE})
configure_file(${httplib_source}/httplib.h ${CEBRIDGE_HTTPLIB_INCLUDE}/httplib.h COPYONLY)
add_library(cebridge_httplib INTERFACE)
target_include_directories(cebridge_httplib SYSTEM INTERFACE ${CEBRIDGE_HTTPLIB_INCLUDE})
target_link_libraries(cebridge_httplib INTERFACE ws2_32)
