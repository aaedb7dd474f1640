# Read by cpack: a tree configured for /usr/local would put the library in
# /usr/lib, outside Debian's multiarch folder.
if(CPACK_GENERATOR STREQUAL "DEB" AND NOT CPACK_RECMUX_INSTALL_PREFIX STREQUAL "/usr")
  message(FATAL_ERROR "The Debian packages need a tree configured with "
    "-DCMAKE_INSTALL_PREFIX=/usr (this one has ${CPACK_RECMUX_INSTALL_PREFIX}).")
endif()
