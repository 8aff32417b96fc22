# Shared build settings.

# Warnings are errors everywhere.
function(wz2_strict target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  if(WZ2_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_link_options(${target} PUBLIC -fsanitize=address,undefined)
  endif()
endfunction()

# Japanese texts are written once in UTF-8 source and stored as code page 932
# bytes, the updater's only text encoding, in every build.
function(wz2_cp932 target)
  target_compile_options(${target} PRIVATE -finput-charset=UTF-8 -fexec-charset=CP932)
endfunction()

# The updater is a C-style program: no exceptions, no RTTI, no C++ runtime
# beyond what the compiler inlines, so the shipped executable stays small and
# depends only on system DLLs.
function(wz2_windows_flags target)
  # No -fdata-sections: MinGW's GCC then puts zero-initialised records into
  # .data$<name> instead of .bss, so the large process-wide tables would be
  # stored in the executable file byte for byte.
  target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -ffunction-sections)
  target_compile_definitions(${target} PRIVATE WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601 WINVER=0x0601)
endfunction()
