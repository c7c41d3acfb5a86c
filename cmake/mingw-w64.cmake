# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64): the driver
# code is built against MinGW-w64's Windows headers and import libraries instead of the stand-in,
# and the test programs it makes run under Wine (cmake/run-under-wine).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

# The "posix" thread model: its libstdc++ has std::thread and std::mutex, which the tests use.
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C runtime is the Universal CRT (ucrtbase), the one a driver built today links, not the
# compiler's default msvcrt.dll: their number readers differ (msvcrt's atoi wraps on overflow,
# the UCRT's clamps). GCC names msvcrt in its built-in link line, so a copy of its specs with the
# UCRT's import library in its place is made next to the build.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -dumpspecs OUTPUT_VARIABLE _zntr_specs
                RESULT_VARIABLE _zntr_specs_result)
if(NOT _zntr_specs_result EQUAL 0)
  message(FATAL_ERROR "${CMAKE_CXX_COMPILER} is missing: run scripts/install-deps")
endif()
string(REPLACE "-lmsvcrt" "-lucrt" _zntr_specs "${_zntr_specs}")
set(_zntr_specs_file "${CMAKE_BINARY_DIR}/ucrt.specs")
if(EXISTS "${_zntr_specs_file}")
  file(READ "${_zntr_specs_file}" _zntr_old_specs)
endif()
if(NOT _zntr_old_specs STREQUAL _zntr_specs)
  file(WRITE "${_zntr_specs_file}" "${_zntr_specs}")
endif()
# The headers are read as for msvcrt.dll (no _UCRT), as Debian's libstdc++ was compiled: with
# _UCRT, mbstate_t and the code conversion facets would differ from the library's. The UCRT's
# import library answers the msvcrt names the headers declare.
# Programs are linked statically (libstdc++, libgcc, winpthreads), so Wine needs no DLL of the
# compiler's. Debian's winpthreads library was built for msvcrt, whose _setjmp the UCRT exports
# under its own name.
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-specs=${_zntr_specs_file} -static -Wl,--defsym,_setjmp=__intrinsic_setjmp")
set(CMAKE_SHARED_LINKER_FLAGS_INIT
    "-specs=${_zntr_specs_file} -static -Wl,--defsym,_setjmp=__intrinsic_setjmp")

# add_test runs every test program through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/run-under-wine")
