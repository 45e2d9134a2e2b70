# What a package holds and how CPack names it. The programs go to bin/ on Linux; on Windows the
# ZIP holds them at its top, beside the README and the licence, to run from the unpacked folder.
if(WIN32)
  set(VELT_INSTALL_BINDIR .)
  set(VELT_INSTALL_DOCDIR .)
else()
  include(GNUInstallDirs)
  set(VELT_INSTALL_BINDIR ${CMAKE_INSTALL_BINDIR})
  set(VELT_INSTALL_DOCDIR ${CMAKE_INSTALL_DOCDIR})
endif()

install(TARGETS velt velt-matchd velt-gamesim RUNTIME DESTINATION ${VELT_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${VELT_INSTALL_DOCDIR})
foreach(licence LICENSE LICENSE.md COPYING)
  if(EXISTS ${PROJECT_SOURCE_DIR}/${licence})
    install(FILES ${PROJECT_SOURCE_DIR}/${licence} DESTINATION ${VELT_INSTALL_DOCDIR})
  endif()
endforeach()

set(CPACK_PACKAGE_NAME VELTPlayer)
set(CPACK_PACKAGE_VENDOR VELTPlayer)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Watch Warcraft III matches that a VELT match server streams")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})

if(WIN32)
  # VELTPlayer-<version>-win64.zip, unpacking into a folder of the same name.
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
endif()

include(CPack)
