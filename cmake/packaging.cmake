# What `cmake --install` and `cpack -G DEB` deliver, in three components as
# Debian splits a library: runtime (the shared library with its SONAME), dev
# (headers, the .so link, recmux.pc, the CMake package) and tools (recmux).
include(CMakePackageConfigHelpers)

set(RECMUX_SUMMARY
  "MP4 recording of H.264/H.265 video and telephony voice, MP4 reading, voice codec")

set(RECMUX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/recmux)

install(TARGETS recmux EXPORT recmuxTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/recmux DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  COMPONENT dev)

# In a system folder the library is found as any other, and an RPATH there
# would override LD_LIBRARY_PATH; elsewhere the tool finds the library beside
# it wherever the prefix is moved.
if(NOT CMAKE_INSTALL_FULL_LIBDIR IN_LIST CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES)
  file(RELATIVE_PATH recmux_bin_to_lib /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${CMAKE_INSTALL_LIBDIR})
  set_target_properties(recmux_tool PROPERTIES INSTALL_RPATH "$ORIGIN/${recmux_bin_to_lib}")
endif()
install(TARGETS recmux_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)

install(EXPORT recmuxTargets NAMESPACE recmux:: DESTINATION ${RECMUX_CMAKE_DIR} COMPONENT dev)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/recmuxConfig.cmake.in
  ${PROJECT_BINARY_DIR}/recmuxConfig.cmake INSTALL_DESTINATION ${RECMUX_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/recmuxConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/recmuxConfig.cmake ${PROJECT_BINARY_DIR}/recmuxConfigVersion.cmake
  DESTINATION ${RECMUX_CMAKE_DIR} COMPONENT dev)

configure_file(${CMAKE_CURRENT_LIST_DIR}/write_pkgconfig.cmake.in
  ${PROJECT_BINARY_DIR}/write_pkgconfig.cmake @ONLY)
install(SCRIPT ${PROJECT_BINARY_DIR}/write_pkgconfig.cmake COMPONENT dev)
install(FILES ${PROJECT_BINARY_DIR}/pkgconfig/recmux.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT dev)

set(RECMUX_DEB_RUNTIME librecmux${PROJECT_VERSION_MAJOR})
set(RECMUX_DEB_DEV librecmux-dev)
set(RECMUX_DEB_TOOLS recmux-tools)

# Every package carries the copyright file; a plain install leaves it out.
foreach(component runtime dev tools)
  string(TOUPPER ${component} upper)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${RECMUX_DEB_${upper}}
    COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()

set(CPACK_PACKAGE_NAME librecmux)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "librecmux maintainers <librecmux@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev tools)
set(CPACK_COMPONENTS_GROUPING IGNORE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# The ABI holds within the SONAME: a later 1.x satisfies what 1.1 built against.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

# Each package's first line is its own synopsis, so CPACK_PACKAGE_DESCRIPTION_SUMMARY,
# which CPack would put before it, stays unset.
set(recmux_about "\
librecmux records H.264 and H.265 Annex B access units, as cameras send
them, together with telephony voice (G.711, G.726, IMA ADPCM) re-encoded as
AAC, into plain or fragmented MP4 files or through a write callback, and
reads MP4 recordings back as Annex B frames. A crash or a power cut loses at
most the last second of a recording. It also exports its voice codec.
")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${RECMUX_DEB_RUNTIME})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/triggers)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "\
MP4 recording library for camera video and telephony voice
${recmux_about}
This package contains the shared library.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME ${RECMUX_DEB_DEV})
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DEPENDS runtime)
# recmux.pc names FFmpeg's modules, which pkg-config wants to find.
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
  "libavformat-dev, libavcodec-dev, libavutil-dev, libswresample-dev")
set(CPACK_DEBIAN_DEV_DESCRIPTION "\
MP4 recording library for camera video and telephony voice - development files
${recmux_about}
This package contains the C headers, the librecmux.so link, the pkg-config
file recmux.pc and the CMake package (find_package(recmux)) needed to build
programs that use librecmux.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME ${RECMUX_DEB_TOOLS})
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION video)
set(CPACK_COMPONENT_TOOLS_DEPENDS runtime)
# dpkg-shlibdeps runs in the tools' staging folder and finds the library in
# its sibling's; the dependency on it comes from the line above.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
  ../runtime${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR})
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "\
command-line recorder and reader built on librecmux
${recmux_about}
This package contains the recmux tool: it records a test pattern, an Annex B
stream or a camera capture into MP4, prints what an MP4 holds, extracts its
video as an elementary stream, and converts WAV files to and from the voice
codecs.")

# The paths inside the packages (the library's multiarch folder among them)
# were fixed at configure time, so cpack checks that they were fixed for /usr.
set(CPACK_RECMUX_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack_project.cmake)
include(CPack)
