# Installing and packaging the publisher's tool.
#
#   bin/wz2[.exe]                   the tool
#   share/wz2/updater-i686.exe      the shipped updater without an archive
#   share/wz2/updater-x86_64.exe    its 64-bit twin
#   share/wz2/updater-ARCH.version  the version the template was built as
#   share/man/man1/wz2.1.gz         the manual (Linux)
#   share/doc/wz2/copyright         the package's copyright and changelog
#   share/doc/wz2/changelog.gz      (Linux)
#
# wz2 finds the templates from its own place (../share/wz2), so the tree can
# be installed under any prefix or unpacked anywhere. Each tree installs the
# templates of the Windows trees the presets name; `make package` builds all
# three first. The host tree makes the Debian package, the Windows trees a
# zip for Windows.
if(NOT TARGET wz2)
  return()
endif()

set(WZ2_WIN32_BIN_DIR "" CACHE PATH "bin folder of the i686 Windows tree, whose updater template is installed")
set(WZ2_WIN64_BIN_DIR "" CACHE PATH "bin folder of the x86_64 Windows tree, whose updater template is installed")

install(TARGETS wz2 RUNTIME DESTINATION bin)

# Every Windows tree writes the version its template was built as beside it.
if(WIN32)
  file(WRITE ${CMAKE_BINARY_DIR}/bin/updater-noarchive.version "${PROJECT_VERSION}\n")
endif()

foreach(arch i686 x86_64)
  if(arch STREQUAL "i686")
    set(tree_bin ${WZ2_WIN32_BIN_DIR})
    set(own_size 4)
  else()
    set(tree_bin ${WZ2_WIN64_BIN_DIR})
    set(own_size 8)
  endif()
  if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL own_size)
    # This tree's own template, from its target.
    install(PROGRAMS $<TARGET_FILE:updater_exe> DESTINATION share/wz2 RENAME updater-${arch}.exe)
    install(FILES ${CMAKE_BINARY_DIR}/bin/updater-noarchive.version DESTINATION share/wz2
      RENAME updater-${arch}.version)
  elseif(tree_bin)
    # Built by another tree: a missing one stops the install, naming it.
    install(PROGRAMS ${tree_bin}/updater-noarchive.exe DESTINATION share/wz2 RENAME updater-${arch}.exe)
    install(FILES ${tree_bin}/updater-noarchive.version DESTINATION share/wz2 RENAME updater-${arch}.version)
  endif()
endforeach()

# The manual is the tool's own help, every command's included.
if(NOT WIN32)
  find_program(HELP2MAN help2man)
  if(HELP2MAN)
    set(man ${CMAKE_BINARY_DIR}/man/wz2.1)
    add_custom_command(OUTPUT ${man}.gz
      COMMAND ${CMAKE_COMMAND} -DWZ2=$<TARGET_FILE:wz2> -DHELP2MAN=${HELP2MAN} -DVERSION=${PROJECT_VERSION}
        -DOUT=${man}
        -P ${CMAKE_CURRENT_LIST_DIR}/ManPage.cmake
      DEPENDS wz2 ${CMAKE_CURRENT_LIST_DIR}/ManPage.cmake VERBATIM)
    add_custom_target(wz2_man ALL DEPENDS ${man}.gz)
    install(FILES ${man}.gz DESTINATION share/man/man1)
  else()
    message(STATUS "help2man not found: no manual page (scripts/install-deps installs it)")
  endif()
endif()

# The package's copyright and changelog, where Debian keeps them. The
# changelog's newest entry is the version being built.
if(NOT WIN32)
  file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/debian/changelog newest LIMIT_COUNT 1)
  if(NOT newest MATCHES "^wz2 \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "cmake/debian/changelog does not begin with version ${PROJECT_VERSION}: ${newest}")
  endif()
  set(changelog ${CMAKE_BINARY_DIR}/doc/changelog.gz)
  add_custom_command(OUTPUT ${changelog}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/doc
    COMMAND sh -c "gzip -n -9 -c \"$1\" >\"$2\"" sh ${CMAKE_CURRENT_LIST_DIR}/debian/changelog ${changelog}
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/debian/changelog VERBATIM)
  add_custom_target(wz2_changelog ALL DEPENDS ${changelog})
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${changelog} DESTINATION share/doc/wz2)
endif()

set(CPACK_PACKAGE_NAME wz2)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "wz2")
set(CPACK_PACKAGE_CONTACT "wz2 maintainers <wz2-maintainers@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "makes self-contained Windows updaters for installed games")
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME windows-x86_64)
  else()
    set(CPACK_SYSTEM_NAME windows-i686)
  endif()
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION devel)
  # The libraries the tool links are found by dpkg-shlibdeps; signing the
  # built updater needs osslsigncode, trying it needs Wine.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "osslsigncode, wine")
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Packs a game update into a compressed archive, checks its manifest and\nbuilds the updater executable (32-bit or 64-bit Windows) that carries it,\nwith the game's icon and version information.")
endif()
include(CPack)
