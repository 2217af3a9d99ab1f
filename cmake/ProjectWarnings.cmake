# Warnings are errors for the project's own code (not for GoogleTest).
function(project_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror -Wno-missing-field-initializers)
endfunction()

# Every executable runs on a Windows machine without MinGW's DLLs.
function(project_static_exe target)
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++ -municode)
endfunction()
