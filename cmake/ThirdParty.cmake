# Header-only and test dependencies from Debian's packages, usable by every target.
#
# Cross builds (mingw, -m32) must not put /usr/include on their include path, so the
# header-only libraries are reached through a folder in the build tree that holds
# only links to them.

set(CEBRIDGE_THIRD_PARTY_INCLUDE ${CMAKE_BINARY_DIR}/third_party/include)
file(MAKE_DIRECTORY ${CEBRIDGE_THIRD_PARTY_INCLUDE})
foreach(dir nlohmann CLI)
  if(EXISTS /usr/include/${dir} AND NOT EXISTS ${CEBRIDGE_THIRD_PARTY_INCLUDE}/${dir})
    file(CREATE_LINK /usr/include/${dir} ${CEBRIDGE_THIRD_PARTY_INCLUDE}/${dir} SYMBOLIC)
  endif()
endforeach()
add_library(cebridge_header_only INTERFACE)
target_include_directories(cebridge_header_only SYSTEM INTERFACE ${CEBRIDGE_THIRD_PARTY_INCLUDE})

if(CEBRIDGE_BUILD_TESTS OR CEBRIDGE_BUILD_BENCH)
  if(CEBRIDGE_GTEST_FROM_SOURCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    # GoogleTest's own sources are not ours to hold to our warning flags.
    foreach(t gtest gtest_main gmock gmock_main)
      if(TARGET ${t})
        target_compile_options(${t} PRIVATE -w)
      endif()
    endforeach()
    # Recent GoogleTest sources define the GTest:: names themselves.
    foreach(t gtest gtest_main gmock)
      if(NOT TARGET GTest::${t})
        add_library(GTest::${t} ALIAS ${t})
      endif()
    endforeach()
  else()
    find_package(GTest REQUIRED)
  endif()
endif()
