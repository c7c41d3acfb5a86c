# Project-wide compile settings, applied per target so that third-party code is left alone.

if(ZNTR_SANITIZE)
  add_compile_options(-fsanitize=${ZNTR_SANITIZE} -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${ZNTR_SANITIZE})
  if(ZNTR_SANITIZE MATCHES "undefined")
    add_compile_options(-fno-sanitize-recover=undefined)
  endif()
endif()

# zntr_target_defaults(<target>): warnings on, and clean.
function(zntr_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                           -Wcast-align -Woverloaded-virtual)
  if(ZNTR_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
