# Install rules and packages: a .deb (qscan, qscan-sheet and their manual
# pages) on Linux, a .zip (qscan.exe, qscan-sheet.exe and a short README) for
# Windows.
include(GNUInstallDirs)

set(CPACK_PACKAGE_NAME qscan)
set(CPACK_PACKAGE_VENDOR "qscan developers")
set(CPACK_PACKAGE_CONTACT "qscan developers <dev@qscan.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  install(TARGETS qscan qscan-sheet RUNTIME DESTINATION .)
  install(FILES packaging/README.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "qscan-${PROJECT_VERSION}-win32")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  install(TARGETS qscan qscan-sheet RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES doc/qscan.1 doc/qscan-sheet.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION sound)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "Reads a compact disc sector by sector with its raw P-W subchannel and reports\nthe ISRC of each track and the disc's catalogue number, with the exact\nposition at which each was found.")
endif()

include(CPack)
