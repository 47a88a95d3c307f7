# Warning flags live on an interface target that every target of ours links.
add_library(oku_warnings INTERFACE)
target_compile_options(oku_warnings INTERFACE -Wall -Wextra)
