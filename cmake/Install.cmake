# Where `cmake --install` puts the products, and the packages CPack makes of them.
#
# Linux (GNUInstallDirs): the program in bin; the plug-in, the emulated phone and the
# serve module in a private folder, lib/cebridge (the plug-in finds the emulator beside
# itself, as it finds rapi.dll); the DTD files and the demo phone in share/cebridge;
# the public headers in include/cebridge; the manual, man page and completions where
# the system looks for them. Windows (the zip): everything in one folder, the DLLs
# beside cebridge.exe, as the plug-in goes beside rapi.dll; dtd/ and phones/ there too.
# The programs find each other and their data relative to themselves, installed or in
# the build tree, so no path to either is compiled in.
include(GNUInstallDirs)

if(WIN32)
  set(CEBRIDGE_INSTALL_BIN .)
  set(CEBRIDGE_INSTALL_LIBS .)
  set(CEBRIDGE_INSTALL_DATA .)
else()
  set(CEBRIDGE_INSTALL_BIN ${CMAKE_INSTALL_BINDIR})
  set(CEBRIDGE_INSTALL_LIBS ${CMAKE_INSTALL_LIBDIR}/cebridge)
  set(CEBRIDGE_INSTALL_DATA ${CMAKE_INSTALL_DATADIR}/cebridge)
endif()
# The relative paths the programs take: from the program to the private libraries and
# to the data, and from the libraries to the data.
function(cebridge_relative out from to)
  file(RELATIVE_PATH path /root/${from} /root/${to})
  if(path STREQUAL "")
    set(path .)
  endif()
  set(${out} ${path} PARENT_SCOPE)
endfunction()
cebridge_relative(CEBRIDGE_BIN_TO_LIBS ${CEBRIDGE_INSTALL_BIN} ${CEBRIDGE_INSTALL_LIBS})
cebridge_relative(CEBRIDGE_BIN_TO_DATA ${CEBRIDGE_INSTALL_BIN} ${CEBRIDGE_INSTALL_DATA})
cebridge_relative(CEBRIDGE_LIBS_TO_DATA ${CEBRIDGE_INSTALL_LIBS} ${CEBRIDGE_INSTALL_DATA})
