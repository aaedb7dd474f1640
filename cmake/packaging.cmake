# What `cmake --install` and `cpack -G DEB` deliver: the shared library with its
# SONAME, the public headers, the tool, a pkg-config file and a CMake package.
include(CMakePackageConfigHelpers)

set(RECMUX_SUMMARY
  "MP4 recording of H.264/H.265 video and telephony voice, MP4 reading, voice codec")

set(RECMUX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/recmux)

install(TARGETS recmux EXPORT recmuxTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/recmux DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# The tool finds the library beside it wherever the prefix is moved.
file(RELATIVE_PATH recmux_bin_to_lib /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${CMAKE_INSTALL_LIBDIR})
set_target_properties(recmux_tool PROPERTIES INSTALL_RPATH "$ORIGIN/${recmux_bin_to_lib}")
install(TARGETS recmux_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(EXPORT recmuxTargets NAMESPACE recmux:: DESTINATION ${RECMUX_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/recmuxConfig.cmake.in
  ${PROJECT_BINARY_DIR}/recmuxConfig.cmake INSTALL_DESTINATION ${RECMUX_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/recmuxConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/recmuxConfig.cmake ${PROJECT_BINARY_DIR}/recmuxConfigVersion.cmake
  DESTINATION ${RECMUX_CMAKE_DIR})

configure_file(${CMAKE_CURRENT_LIST_DIR}/write_pkgconfig.cmake.in
  ${PROJECT_BINARY_DIR}/write_pkgconfig.cmake @ONLY)
install(SCRIPT ${PROJECT_BINARY_DIR}/write_pkgconfig.cmake)
install(FILES ${PROJECT_BINARY_DIR}/pkgconfig/recmux.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

set(CPACK_PACKAGE_NAME librecmux)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "librecmux maintainers <librecmux@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY ${RECMUX_SUMMARY})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
