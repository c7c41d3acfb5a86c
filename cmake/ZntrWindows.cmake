# The Windows build of the mingw preset (cmake/mingw-w64.cmake): all of the driver code compiled
# against MinGW-w64's SDK headers and import libraries, linked into the Windows DLL
# ZntrLocation.dll, and the unit tests of those parts built as Windows programs that CTest runs
# under Wine (label "wine", tests/wine/). The framework host, the client, the tools and the
# simulator are Linux programs of this project and are not built here.

add_subdirectory(platform)
add_subdirectory(module)
add_subdirectory(nmea)
add_subdirectory(sensor)
add_subdirectory(driver)
add_subdirectory(feed)
add_subdirectory(hotspot)
# What `zntr decode --fix` prints, for the golden runner of the NMEA decoding.
add_subdirectory(tools/decode)
# The framework host for one device in one process, which runs ZntrLocation.dll end to end.
add_subdirectory(host/windows)

if(ZNTR_BUILD_TESTS)
  enable_testing()
  # GoogleTest from Debian's source package (googletest), compiled for Windows with the rest.
  set(ZNTR_GOOGLETEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest sources to build")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${ZNTR_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  add_subdirectory(tests/wine)
endif()
