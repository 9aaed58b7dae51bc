# Installing the programs and their manual pages, and the packages CPack
# makes of them: a .deb on Linux, a .zip on Windows with the .exe files and
# a README beside them.
include(GNUInstallDirs)

if(WIN32)
  install(TARGETS veskal unveskal nm3info RUNTIME DESTINATION .)
  install(FILES packaging/README-windows.txt DESTINATION . RENAME README.txt)
else()
  install(TARGETS veskal unveskal nm3info RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES man/veskal.1 man/unveskal.1 man/nm3info.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(CPACK_PACKAGE_NAME veskal)
set(CPACK_PACKAGE_VENDOR "veskal developers")
set(CPACK_PACKAGE_CONTACT "veskal developers <veskal@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "pack, unpack and inspect NM3 map atlas archives")
set(CPACK_PACKAGE_DESCRIPTION
  "veskal packs the index file and the .nm2 files of a map atlas folder into one NM3 archive; unveskal takes such an archive apart again into a folder beside it; nm3info lists and checks an archive without writing a file.")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(VESKAL_WINDOWS_ARCH win64)
  else()
    set(VESKAL_WINDOWS_ARCH win32)
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "veskal-${PROJECT_VERSION}-${VESKAL_WINDOWS_ARCH}")
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)
