# Project-wide warning and sanitizer flags, applied to every target through nimbra_target().

add_library(nimbra_compile_options INTERFACE)
target_compile_options(nimbra_compile_options INTERFACE -Wall -Wextra -Wpedantic)
if(NIMBRA_WERROR)
    target_compile_options(nimbra_compile_options INTERFACE -Werror)
endif()
if(NIMBRA_SANITIZE)
    target_compile_options(nimbra_compile_options INTERFACE
        -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    target_link_options(nimbra_compile_options INTERFACE -fsanitize=address,undefined)
endif()

# Applies the project's compile options to a target.
function(nimbra_target target)
    target_link_libraries(${target} PRIVATE nimbra_compile_options)
endfunction()
