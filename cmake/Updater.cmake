# Updater executables: the updater library, the dialog template and the
# application manifest, and optionally an archive as resource "UPDATE"/102.
#
#   wz2_add_updater(<target> ARCHIVE <path> [WZ2 <wz2 program>])
#
# builds <target>.exe carrying the archive at <path> (language 1041) and
# its check record "UPDATE"/103, which `wz2 check-value` writes (WZ2, else
# WZ2_HOST_TOOL, else a wz2 on PATH). Tests
# and release builds use it to make updaters from the archives they pack.
# The functions find their files from this file's own place, so any folder
# of the build may call them.

set(WZ2_UPDATER_CMAKE_DIR ${CMAKE_CURRENT_LIST_DIR})
set(WZ2_UPDATER_RC ${CMAKE_CURRENT_LIST_DIR}/../app/res/updater.rc)
get_filename_component(WZ2_UPDATER_RC ${WZ2_UPDATER_RC} ABSOLUTE)

# The manifest names the processor architecture of the image it sits in: the
# shipped 32-bit build is X86; the 64-bit build, which exists to run under
# Wine here, says amd64, since a mismatching identity can keep an image from
# starting.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(WZ2_MANIFEST_ARCHITECTURE amd64)
else()
  set(WZ2_MANIFEST_ARCHITECTURE X86)
endif()
set(WZ2_UPDATER_RES_DIR ${CMAKE_BINARY_DIR}/app/res/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/../app/res/updater.manifest.in
  ${WZ2_UPDATER_RES_DIR}/updater.manifest @ONLY)

# The shipped program must stay small and depend on system DLLs only: no
# C++ runtime (linked as C, so any use of it fails to link), everything
# static, unused sections dropped, symbols stripped.
function(_wz2_updater_executable target)
  set(WZ2_UPDATER_CMAKE_DIR ${CMAKE_CURRENT_FUNCTION_LIST_DIR})
  get_filename_component(WZ2_UPDATER_RC ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../app/res/updater.rc ABSOLUTE)
  set(WZ2_UPDATER_RES_DIR ${CMAKE_BINARY_DIR}/app/res/generated)
  add_executable(${target} WIN32 ${WZ2_UPDATER_RC} ${ARGN})
  # The libraries go in as plain files: as targets, CMake would add the C++
  # runtime (-lstdc++ -lgcc_s) to the link of a C++ library, and the 32-bit
  # build would then import 64-bit division from libgcc_s_dw2-1.dll. The
  # front end comes first, then the lower layers it calls.
  add_dependencies(${target} updater updater_core)
  target_link_libraries(${target} PRIVATE $<TARGET_FILE:updater> $<TARGET_FILE:updater_core>
    user32 shell32 ole32 advapi32 kernel32)
  set_target_properties(${target} PROPERTIES LINKER_LANGUAGE C)
  target_link_options(${target} PRIVATE -mwindows -static -s -Os -Wl,--gc-sections)
  # The entry point lives in the updater library, but only the C runtime's
  # start-up code, linked after it, refers to it: ask for it up front.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    target_link_options(${target} PRIVATE -Wl,--undefined=WinMain)
  else()
    target_link_options(${target} PRIVATE -Wl,--undefined=_WinMain@16)
  endif()
  # The resource script is UTF-8; the manifest is found through the include
  # path, which windres also searches for files named in the script.
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:RC>:--codepage=65001>)
  target_include_directories(${target} PRIVATE ${WZ2_UPDATER_RES_DIR})
  # Every build checks what the executable imports: a DLL that is not part of
  # every Windows installation would keep the updater from starting.
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DIMAGE=$<TARGET_FILE:${target}>
      -P ${WZ2_UPDATER_CMAKE_DIR}/CheckImports.cmake
    VERBATIM)
  set_property(SOURCE ${WZ2_UPDATER_RC} APPEND PROPERTY OBJECT_DEPENDS
    ${WZ2_UPDATER_RES_DIR}/updater.manifest ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../app/res/resource.h)
endfunction()

function(wz2_add_updater target)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "ARCHIVE;WZ2" "")
  if(NOT ARG_ARCHIVE)
    message(FATAL_ERROR "wz2_add_updater(${target}): ARCHIVE <path> is required")
  endif()
  # The archive's check record comes from the publisher's tool, so that
  # this route and build-exe record the archive the same way.
  set(tool ${ARG_WZ2})
  if(NOT tool AND WZ2_HOST_TOOL)
    set(tool ${WZ2_HOST_TOOL})
  endif()
  if(NOT tool)
    find_program(WZ2_TOOL_PROGRAM wz2)
    set(tool ${WZ2_TOOL_PROGRAM})
  endif()
  if(NOT tool)
    message(FATAL_ERROR "wz2_add_updater(${target}): no wz2 to record the archive's check value; give WZ2 <path>")
  endif()
  get_filename_component(archive ${ARG_ARCHIVE} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  set(check ${CMAKE_CURRENT_BINARY_DIR}/${target}-archive.chk)
  add_custom_command(OUTPUT ${check}
    COMMAND ${tool} check-value -o ${check} ${archive}
    DEPENDS ${archive} ${tool}
    COMMENT "Recording the check value of ${archive}" VERBATIM)
  set(archive_rc ${CMAKE_CURRENT_BINARY_DIR}/${target}-archive.rc)
  file(WRITE ${archive_rc}.in
    "// Generated for ${target}: the payload archive and its check record.\n"
    "LANGUAGE 0x11, 0x01\n"
    "102 UPDATE \"${archive}\"\n"
    "103 UPDATE \"${check}\"\n")
  configure_file(${archive_rc}.in ${archive_rc} COPYONLY)
  set_property(SOURCE ${archive_rc} APPEND PROPERTY OBJECT_DEPENDS ${archive} ${check})
  # Listed as a source so that the record is made before the resource script
  # is compiled.
  _wz2_updater_executable(${target} ${archive_rc} ${check})
endfunction()

# The updater without a payload: it starts and reports the missing archive.
# The shipped 32-bit one is what players download before any payload: its
# build fails when it grows past 40 KiB.
function(wz2_add_updater_without_archive target)
  _wz2_updater_executable(${target})
  if(NOT CMAKE_SIZEOF_VOID_P EQUAL 8)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -DIMAGE=$<TARGET_FILE:${target}> -DMAX_BYTES=40960
        -P ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/CheckSize.cmake
      VERBATIM)
  endif()
endfunction()
