# Every header of the products compiled alone, one translation unit each and never
# as part of a unity build, so a header that relies on what its includers happened
# to include before it fails to compile. Each is included twice: its guard must hold.
# Target `cebridge_headers` (not part of `all`); the test command's `headers` stage.
add_custom_target(cebridge_headers)

# cebridge_check_headers(GROUP TARGET GLOB...): the headers the globs find, compiled
# with the include folders and definitions that TARGET gives its users.
function(cebridge_check_headers group usage)
  file(GLOB headers CONFIGURE_DEPENDS ${ARGN})
  set(sources)
  foreach(header ${headers})
    file(RELATIVE_PATH relative ${PROJECT_SOURCE_DIR} ${header})
    string(MAKE_C_IDENTIFIER ${relative} name)
    set(source ${CMAKE_BINARY_DIR}/header_checks/${name}.cpp)
    file(CONFIGURE OUTPUT ${source} CONTENT "#include \"${header}\"\n#include \"${header}\"\n")
    list(APPEND sources ${source})
  endforeach()
  add_library(cebridge_headers_${group} OBJECT EXCLUDE_FROM_ALL ${sources})
  set_target_properties(cebridge_headers_${group} PROPERTIES UNITY_BUILD OFF)
  target_link_libraries(cebridge_headers_${group} PRIVATE ${usage})
  add_dependencies(cebridge_headers cebridge_headers_${group})
endfunction()

cebridge_check_headers(plugin cebridge_objects
  ${PROJECT_SOURCE_DIR}/include/cebridge/*.h ${PROJECT_SOURCE_DIR}/plugin/*/*.h)
cebridge_check_headers(emulator ceemu_objects ${PROJECT_SOURCE_DIR}/emulator/*.h)
# Each layer of the host's core alone: a header that reaches a layer above its own fails.
foreach(layer base pc formats link ops backup sync)
  if(TARGET cebridge_host_${layer})
    cebridge_check_headers(host_${layer} cebridge_host_${layer} ${PROJECT_SOURCE_DIR}/host/core/${layer}/*.h)
  endif()
endforeach()
# The program's headers take what its sources are compiled with.
add_library(cebridge_host_usage INTERFACE)
target_include_directories(cebridge_host_usage INTERFACE $<TARGET_PROPERTY:cebridge_host,INCLUDE_DIRECTORIES>)
target_compile_definitions(cebridge_host_usage INTERFACE $<TARGET_PROPERTY:cebridge_host,COMPILE_DEFINITIONS>)
target_link_libraries(cebridge_host_usage INTERFACE cebridge_hostcore)
cebridge_check_headers(host cebridge_host_usage ${PROJECT_SOURCE_DIR}/host/cli/*.h)
if(TARGET cebridge_web)
  # serve.h is the host program's (its routes call the host's commands).
  cebridge_check_headers(web cebridge_web ${PROJECT_SOURCE_DIR}/host/web/web.h ${PROJECT_SOURCE_DIR}/host/web/server.h)
  cebridge_check_headers(host_web cebridge_host_usage ${PROJECT_SOURCE_DIR}/host/web/serve.h)
endif()
