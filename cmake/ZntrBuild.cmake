# Project-wide compile settings, applied per target so that third-party code is left alone.

if(ZNTR_SANITIZE)
  add_compile_options(-fsanitize=${ZNTR_SANITIZE} -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${ZNTR_SANITIZE})
  if(ZNTR_SANITIZE MATCHES "undefined")
    add_compile_options(-fno-sanitize-recover=undefined)
  endif()
endif()

# Branch coverage (scripts/run-coverage): every object counts its arcs, atomically, since the
# driver's threads run the same code at once.
option(ZNTR_COVERAGE "Build with gcov instrumentation" OFF)
if(ZNTR_COVERAGE)
  add_compile_options(--coverage -fprofile-update=atomic)
  add_link_options(--coverage)
endif()

# zntr_target_defaults(<target>): warnings on, and clean.
function(zntr_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                           -Wcast-align -Woverloaded-virtual)
  # The Windows SDK declares COM interfaces with no destructor (a virtual one would take a slot
  # of the interface's table), so every class implementing one has a polymorphic base with a
  # public non-virtual destructor; the stand-in's declarations make theirs protected instead.
  if(WIN32)
    target_compile_options(${target} PRIVATE -Wno-non-virtual-dtor)
  endif()
  if(ZNTR_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
