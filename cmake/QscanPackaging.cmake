# Install rules and packages: a .deb (qscan, qscan-sheet, libqscan with its
# header, pkg-config file and example, the Python module, the manual pages)
# on Linux; a .zip (qscan.exe, qscan-sheet.exe, qscan.dll with its header
# and import library, a short README) for Windows.

# A library in its architecture's folder, as Debian keeps them
# (lib/x86_64-linux-gnu), under whatever prefix.
if(CMAKE_LIBRARY_ARCHITECTURE AND NOT WIN32)
  set(CMAKE_INSTALL_LIBDIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}" CACHE PATH "Object code libraries (LIBDIR)")
endif()
include(GNUInstallDirs)

set(CPACK_PACKAGE_NAME qscan)
set(CPACK_PACKAGE_VENDOR "qscan developers")
set(CPACK_PACKAGE_CONTACT "qscan developers <dev@qscan.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  install(TARGETS qscan qscan-sheet libqscan RUNTIME DESTINATION . ARCHIVE DESTINATION .)
  install(FILES packaging/README.txt src/sheet/qscan.h DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "qscan-${PROJECT_VERSION}-win32")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  install(TARGETS qscan qscan-sheet RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(TARGETS libqscan LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(FILES src/sheet/qscan.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  # The pkg-config file finds the rest from where it lies, so that one file
  # serves `cmake --install --prefix` and the .deb's /usr alike.
  file(RELATIVE_PATH QSCAN_PC_PREFIX "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
  string(REGEX REPLACE "/$" "" QSCAN_PC_PREFIX "${QSCAN_PC_PREFIX}")
  configure_file(cmake/qscan.pc.in qscan.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/qscan.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
  # Manual pages gzipped, as Debian installs them (-n: the same bytes every build).
  find_program(QSCAN_GZIP gzip REQUIRED)
  foreach(page qscan.1 qscan-sheet.1 qscan.3)
    string(REGEX REPLACE ".*\\." "" section "${page}")
    add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/man/${page}.gz
                       COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
                       COMMAND ${QSCAN_GZIP} -9 -n -c ${PROJECT_SOURCE_DIR}/doc/${page} > ${PROJECT_BINARY_DIR}/man/${page}.gz
                       DEPENDS ${PROJECT_SOURCE_DIR}/doc/${page} VERBATIM)
    list(APPEND QSCAN_MAN_PAGES ${PROJECT_BINARY_DIR}/man/${page}.gz)
    install(FILES ${PROJECT_BINARY_DIR}/man/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${QSCAN_MAN_PAGES})
  install(FILES doc/example.c DESTINATION ${CMAKE_INSTALL_DOCDIR})
  # The Python module where Debian's python3 looks for packages of the system.
  install(FILES python/qscan/__init__.py python/qscan/_native.py DESTINATION lib/python3/dist-packages/qscan)
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION sound)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS python3)  # for the module; the programs and the library need no Python
  # The shlibs file and the ldconfig trigger of a package that ships a library.
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "Reads a compact disc sector by sector with its raw P-W subchannel and reports\nthe ISRC of each track and the disc's catalogue number, with the exact\nposition at which each was found; and the disc's sheet (index points, flags,\nidentifiers, CD-Text) as text, cue sheet, JSON, TOC file or picture, from\nqscan-sheet, from C through libqscan and from Python.")
endif()

include(CPack)
