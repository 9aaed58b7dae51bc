# Installing the programs of VESKAL_PROGRAMS with their manual pages, bash
# completions, license and changelog, and the packages CPack makes of them:
# a .deb on Linux; on Windows a .zip with the .exe files, a README, the
# license and the format page nm3(5) as text.
#
# The version comes from project() alone: it goes into the banner
# (CMakeLists.txt), the manual pages' .TH lines, the package names and the
# .exe files' version resources. Dates come from SOURCE_DATE_EPOCH, which the
# Makefile sets to the time of the last commit, so that two builds of one
# commit give the same bytes.
include(GNUInstallDirs)

set(VESKAL_MAINTAINER "veskal maintainers <maintainers@users.noreply.c-seed-c835be3f.example>")
string(TIMESTAMP VESKAL_DATE "%Y-%m-%d" UTC)
set(VESKAL_GENERATED "${CMAKE_CURRENT_BINARY_DIR}/packaging")

set(VESKAL_PROGRAM_NAMES)
foreach(entry IN LISTS VESKAL_PROGRAMS)
  if(NOT entry MATCHES "^([a-z0-9]+): (.+)$")
    message(FATAL_ERROR "VESKAL_PROGRAMS: \"${entry}\" is not \"NAME: description\"")
  endif()
  list(APPEND VESKAL_PROGRAM_NAMES ${CMAKE_MATCH_1})
  set(VESKAL_DESCRIPTION_${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
  foreach(file man/${CMAKE_MATCH_1}.1 packaging/completion/${CMAKE_MATCH_1})
    if(NOT EXISTS "${PROJECT_SOURCE_DIR}/${file}")
      message(FATAL_ERROR "${CMAKE_MATCH_1} has no ${file}")
    endif()
  endforeach()
endforeach()

if(WIN32)
  # Each program carries an application manifest (long paths, supported
  # versions) and a version resource. The link strips it and writes no time
  # stamp into it (strip afterwards would write one), so the .exe that the
  # tests run is the one in the package.
  enable_language(RC)
  foreach(VESKAL_PROGRAM IN LISTS VESKAL_PROGRAM_NAMES)
    set(VESKAL_DESCRIPTION "${VESKAL_DESCRIPTION_${VESKAL_PROGRAM}}")
    set(VESKAL_MANIFEST "${VESKAL_GENERATED}/${VESKAL_PROGRAM}.manifest")
    configure_file(packaging/windows/program.manifest "${VESKAL_MANIFEST}" @ONLY)
    configure_file(packaging/windows/program.rc.in "${VESKAL_GENERATED}/${VESKAL_PROGRAM}.rc" @ONLY)
    target_sources(${VESKAL_PROGRAM} PRIVATE "${VESKAL_GENERATED}/${VESKAL_PROGRAM}.rc")
    target_link_options(${VESKAL_PROGRAM} PRIVATE -s -Wl,--no-insert-timestamp)
  endforeach()

  # Beside the programs: the README, the license and the format page nm3(5)
  # as text, with Windows line ends.
  install(TARGETS ${VESKAL_PROGRAM_NAMES} RUNTIME DESTINATION .)
  configure_file(packaging/README-windows.txt "${VESKAL_GENERATED}/README.txt" @ONLY NEWLINE_STYLE CRLF)
  configure_file(LICENSE "${VESKAL_GENERATED}/LICENSE.txt" @ONLY NEWLINE_STYLE CRLF)
  configure_file(man/nm3.5 "${VESKAL_GENERATED}/nm3.5" @ONLY)
  add_custom_command(OUTPUT "${VESKAL_GENERATED}/nm3.txt"
    COMMAND "${PROJECT_SOURCE_DIR}/packaging/man-to-text" "${VESKAL_GENERATED}/nm3.5" "${VESKAL_GENERATED}/nm3.txt"
    DEPENDS "${VESKAL_GENERATED}/nm3.5" "${PROJECT_SOURCE_DIR}/packaging/man-to-text" VERBATIM)
  add_custom_target(documents ALL DEPENDS "${VESKAL_GENERATED}/nm3.txt")
  install(FILES "${VESKAL_GENERATED}/README.txt" "${VESKAL_GENERATED}/LICENSE.txt" "${VESKAL_GENERATED}/nm3.txt"
    DESTINATION .)
else()
  install(TARGETS ${VESKAL_PROGRAM_NAMES} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # Stripped for the package (CPACK_STRIP_FILES) the way Debian strips: the
  # compiler's notes go too.
  foreach(program IN LISTS VESKAL_PROGRAM_NAMES)
    install(CODE "if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program}\" COMMAND_ERROR_IS_FATAL ANY)
    endif()")
  endforeach()

  # The manual pages with the version and date on their .TH line, compressed
  # the way Debian wants them (gzip -9n: no name, no time stamp).
  set(VESKAL_PAGES)
  foreach(program IN LISTS VESKAL_PROGRAM_NAMES)
    list(APPEND VESKAL_PAGES ${program}.1)
  endforeach()
  list(APPEND VESKAL_PAGES nm3.5)
  set(VESKAL_COMPRESSED)
  foreach(page IN LISTS VESKAL_PAGES)
    configure_file(man/${page} "${VESKAL_GENERATED}/${page}" @ONLY)
    add_custom_command(OUTPUT "${VESKAL_GENERATED}/${page}.gz"
      COMMAND gzip -9nkf "${VESKAL_GENERATED}/${page}"
      DEPENDS "${VESKAL_GENERATED}/${page}" VERBATIM)
    string(REGEX MATCH "[0-9]$" section ${page})
    install(FILES "${VESKAL_GENERATED}/${page}.gz" DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
    list(APPEND VESKAL_COMPRESSED "${VESKAL_GENERATED}/${page}.gz")
  endforeach()

  foreach(program IN LISTS VESKAL_PROGRAM_NAMES)
    install(FILES packaging/completion/${program} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
  endforeach()

  # The license as a machine-readable copyright file, and the changelog in
  # Debian's form.
  file(READ LICENSE license)
  string(REGEX REPLACE "^MIT License\n\nCopyright \\(c\\) ([^\n]*)\n\n" "" license_text "${license}")
  set(license_holder "${CMAKE_MATCH_1}")
  string(REGEX REPLACE "\n$" "" license_text "${license_text}")
  string(REGEX REPLACE "\n\n" "\n.\n" license_text "${license_text}")
  string(REGEX REPLACE "\n" "\n " license_text "${license_text}")
  file(WRITE "${VESKAL_GENERATED}/copyright.new"
    "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
    "Upstream-Name: veskal\n"
    "Upstream-Contact: ${VESKAL_MAINTAINER}\n"
    "\n"
    "Files: *\n"
    "Copyright: ${license_holder}\n"
    "License: Expat\n"
    " ${license_text}\n")
  configure_file("${VESKAL_GENERATED}/copyright.new" "${VESKAL_GENERATED}/copyright" COPYONLY)
  add_custom_command(OUTPUT "${VESKAL_GENERATED}/changelog.gz"
    COMMAND "${PROJECT_SOURCE_DIR}/packaging/debian-changelog" "${PROJECT_SOURCE_DIR}/CHANGELOG.md"
      "${VESKAL_MAINTAINER}" "${VESKAL_GENERATED}/changelog"
    COMMAND gzip -9nf "${VESKAL_GENERATED}/changelog"
    DEPENDS "${PROJECT_SOURCE_DIR}/CHANGELOG.md" "${PROJECT_SOURCE_DIR}/packaging/debian-changelog" VERBATIM)
  install(FILES "${VESKAL_GENERATED}/copyright" "${VESKAL_GENERATED}/changelog.gz" DESTINATION ${CMAKE_INSTALL_DOCDIR})
  add_custom_target(documents ALL DEPENDS ${VESKAL_COMPRESSED} "${VESKAL_GENERATED}/changelog.gz")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS LICENSE)

set(CPACK_PACKAGE_NAME veskal)
set(CPACK_PACKAGE_VENDOR "the veskal authors")
set(CPACK_PACKAGE_CONTACT "${VESKAL_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "pack, unpack and inspect NM3 map atlas archives")

if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(VESKAL_WINDOWS_ARCH win64)
  else()
    set(VESKAL_WINDOWS_ARCH win32)
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_STRIP_FILES OFF)
  set(CPACK_PACKAGE_FILE_NAME "veskal-${PROJECT_VERSION}-${VESKAL_WINDOWS_ARCH}")
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VESKAL_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The extended description below the summary, wrapped to 80 columns.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "veskal packs the index file (.nti) and the .nm2 files of a map atlas
folder into one NM3 archive; unveskal takes such an archive apart again
into a folder beside it; nm3info lists and checks an archive, and reads a
member out of it, without writing a file.")
endif()

include(CPack)
