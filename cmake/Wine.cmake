# Comparing a host program with the same program built for Windows.
#
# Some behaviour of the host platform layer (platform/host/) stands in for the
# real Win32 API. A peer program prints what the API answers, one line per
# question; built for the host it asks platform/host/, built for Windows
# (the win64 tree) and run under Wine it asks a real Win32 implementation.
# Any line that differs is a failing test.
#
# In a host tree:
#   include(cmake/Wine.cmake)
#   wz2_wine_compare(NAME <test> HOST_TARGET <target> WINDOWS_PROGRAM <file.exe>
#                    [ARGS <args>...] [TIMEOUT <seconds>])
# adds the CTest test <test>. The Windows program is looked for in
# WZ2_WIN64_BIN_DIR (the presets set it to the win64 tree's bin folder); when
# it is not there the test fails, and when Wine is not installed it is
# reported as skipped with the reason. Programs run through
# scripts/wine-run, which owns the prefix and the locale.
#
# This file is also the comparison itself: CTest runs it with cmake -P.

if(CMAKE_SCRIPT_MODE_FILE)
  # ---- cmake -P: run both programs and compare ------------------------------
  foreach(var HOST WINDOWS WINE_RUN OUT_DIR NAME)
    if(NOT DEFINED ${var})
      message(FATAL_ERROR "Wine.cmake: -D${var}= is required")
    endif()
  endforeach()
  separate_arguments(args UNIX_COMMAND "${ARGS}")
  # A missing Windows tree fails the comparison: skipping it would let the
  # host layer drift from Windows unnoticed.
  if(NOT EXISTS "${WINDOWS}")
    message(FATAL_ERROR "${WINDOWS} is not built (build its preset: cmake --workflow --preset win64 or win32)")
  endif()
  if(NOT ARCH STREQUAL "win32" AND NOT EXISTS /usr/lib/wine/wine64 AND NOT DEFINED ENV{WZ2_WINE})
    message("WZ2-WINE-SKIPPED: /usr/lib/wine/wine64 is not installed (scripts/install-deps)")
    return()
  endif()
  file(MAKE_DIRECTORY "${OUT_DIR}")
  set(host_out "${OUT_DIR}/${NAME}.host.txt")
  set(wine_out "${OUT_DIR}/${NAME}.wine.txt")

  execute_process(COMMAND "${HOST}" ${args}
    OUTPUT_FILE "${host_out}" ERROR_VARIABLE host_err RESULT_VARIABLE host_rc)
  string(TIMESTAMP t0 "%s")
  if(NOT DEFINED ARCH)
    set(ARCH win64)
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E env WZ2_WINE_ARCH=${ARCH} "${WINE_RUN}" "${WINDOWS}" ${args}
    OUTPUT_FILE "${wine_out}" ERROR_VARIABLE wine_err RESULT_VARIABLE wine_rc)
  string(TIMESTAMP t1 "%s")
  math(EXPR seconds "${t1} - ${t0}")
  message("host program exit ${host_rc}; Windows program under Wine exit ${wine_rc} after about ${seconds} s")

  if(wine_rc EQUAL 127)
    message("WZ2-WINE-SKIPPED: ${wine_err}")
    return()
  endif()
  if(NOT host_rc EQUAL 0 OR NOT wine_rc EQUAL 0)
    message(FATAL_ERROR "a peer program failed\nhost stderr:\n${host_err}\nwine stderr:\n${wine_err}")
  endif()
  file(SIZE "${wine_out}" wine_size)
  if(wine_size EQUAL 0)
    message(FATAL_ERROR "the Windows program printed nothing\nwine stderr:\n${wine_err}")
  endif()
  execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${host_out}" "${wine_out}" RESULT_VARIABLE same)
  if(NOT same EQUAL 0)
    execute_process(COMMAND diff -U0 --label host --label wine "${host_out}" "${wine_out}"
      OUTPUT_VARIABLE difference)
    # Plain message(): FATAL_ERROR would re-wrap the lines.
    message("host and Windows answers differ (- host, + wine):\n${difference}")
    message(FATAL_ERROR "full outputs: ${host_out} ${wine_out}")
  endif()
  # Counted by line ends: file(STRINGS) would skip the lines that hold code
  # page 932 bytes.
  file(READ "${host_out}" text)
  string(REGEX MATCHALL "\n" ends "${text}")
  list(LENGTH ends count)
  message("${count} answers agree")
  return()
endif()

# ---- include(): the CTest building block --------------------------------------
set(WZ2_WIN64_BIN_DIR "" CACHE PATH
  "Folder of the win64 build's programs that the Wine comparisons run (the presets set it)")
set(WZ2_WIN32_BIN_DIR "" CACHE PATH
  "Folder of the win32 build's programs that the 32-bit Wine comparisons run (the presets set it)")
set(WZ2_WINE_CMAKE "${CMAKE_CURRENT_LIST_FILE}")

function(wz2_wine_compare)
  cmake_parse_arguments(W "" "NAME;HOST_TARGET;WINDOWS_PROGRAM;TIMEOUT;ARCH" "ARGS" ${ARGN})
  if(NOT W_NAME OR NOT W_HOST_TARGET OR NOT W_WINDOWS_PROGRAM)
    message(FATAL_ERROR "wz2_wine_compare: NAME, HOST_TARGET and WINDOWS_PROGRAM are required")
  endif()
  if(NOT W_ARCH)
    set(W_ARCH win64)
  endif()
  string(TOUPPER "WZ2_${W_ARCH}_BIN_DIR" bin_var)
  if(NOT ${bin_var})
    message(FATAL_ERROR "${bin_var} is not set: configure with a preset (cmake --preset host)")
  endif()
  if(NOT W_TIMEOUT)
    set(W_TIMEOUT 300)
  endif()
  string(JOIN " " args ${W_ARGS})
  add_test(NAME ${W_NAME}
    COMMAND ${CMAKE_COMMAND}
      -DNAME=${W_NAME}
      -DHOST=$<TARGET_FILE:${W_HOST_TARGET}>
      -DWINDOWS=${${bin_var}}/${W_WINDOWS_PROGRAM}
      -DARCH=${W_ARCH}
      -DWINE_RUN=${CMAKE_SOURCE_DIR}/scripts/wine-run
      -DOUT_DIR=${CMAKE_CURRENT_BINARY_DIR}/wine-compare
      "-DARGS=${args}"
      -P ${WZ2_WINE_CMAKE})
  set_tests_properties(${W_NAME} PROPERTIES
    LABELS wine
    TIMEOUT ${W_TIMEOUT}
    SKIP_REGULAR_EXPRESSION "WZ2-WINE-SKIPPED"
    # Tests that share the prefix start Wine one after another: the machine
    # has two cores and the first start of a prefix creates it.
    RESOURCE_LOCK wine-prefix-${W_ARCH})
endfunction()
