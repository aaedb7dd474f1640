# GoogleTest for every test program, and how ctest finds their cases.
include(GoogleTest)
if(WIN32)
  # Debian's GoogleTest sources (they name GTest::gtest_main), built for
  # Windows; the tests run under Wine (CMAKE_CROSSCOMPILING_EMULATOR), which
  # lists them when they run.
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set(discovery_mode PRE_TEST)
else()
  find_package(GTest REQUIRED)
  set(discovery_mode POST_BUILD)
endif()
# Media the ffmpeg tool makes for the tests, kept between runs; a Windows build
# shares a Linux build's.
set(RECMUX_FIXTURES ${CMAKE_BINARY_DIR}/fixtures CACHE PATH "Where the tests' media are made and kept")
function(recmux_discover_tests target)
  gtest_discover_tests(${target} DISCOVERY_TIMEOUT 30 DISCOVERY_MODE ${discovery_mode}
                       PROPERTIES ENVIRONMENT RECMUX_FIXTURES=${RECMUX_FIXTURES})
endfunction()
