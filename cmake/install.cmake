# Installation: the program into bin/ and, except on Windows, the manual page
# oskavi(1), generated at build time from README.md so that its usage text
# and option table cannot drift from the README's.
include(GNUInstallDirs)
install(TARGETS oskavi RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(NOT WIN32)
  find_program(OSKAVI_AWK NAMES awk mawk gawk REQUIRED)
  set(OSKAVI_MAN_PAGE ${CMAKE_CURRENT_BINARY_DIR}/oskavi.1)
  add_custom_command(OUTPUT ${OSKAVI_MAN_PAGE}
    COMMAND ${OSKAVI_AWK} -v version=${PROJECT_VERSION} -f ${CMAKE_CURRENT_SOURCE_DIR}/tools/readme_to_man.awk
            ${CMAKE_CURRENT_SOURCE_DIR}/README.md > ${OSKAVI_MAN_PAGE}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/README.md ${CMAKE_CURRENT_SOURCE_DIR}/tools/readme_to_man.awk
    COMMENT "Writing the manual page oskavi.1 from README.md"
    VERBATIM)
  add_custom_target(oskavi_man_page ALL DEPENDS ${OSKAVI_MAN_PAGE})
  install(FILES ${OSKAVI_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/README.md
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
  include(${CMAKE_CURRENT_LIST_DIR}/package.cmake)
endif()
