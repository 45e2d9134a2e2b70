# What a package holds and how CPack names it. The programs go to bin/ on Linux, with the
# desktop entry, the icons, the AppStream metadata and the manual pages, and "cpack -G DEB"
# builds veltplayer_<version>_amd64.deb; on Windows the ZIP holds them at its top, beside the
# README and the licence, to run from the unpacked folder, and "cpack -G NSIS" builds the
# installer VELTPlayer-<version>-win64.exe from the same files (cmake/nsis/NSIS.template.in).
if(WIN32)
  set(VELT_INSTALL_BINDIR .)
  set(VELT_INSTALL_DOCDIR .)
else()
  include(GNUInstallDirs)
  set(VELT_INSTALL_BINDIR ${CMAKE_INSTALL_BINDIR})
  # Debian's place, named after the package.
  set(VELT_INSTALL_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/veltplayer)
endif()

foreach(program velt velt-matchd velt-gamesim veltplayer)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${VELT_INSTALL_BINDIR})
  endif()
endforeach()
if(WIN32 AND TARGET veltplayer)
  # Qt's DLLs and the platform plugin, found from the program's import tables.
  velt_install_qt_runtime(veltplayer ${VELT_INSTALL_BINDIR})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${VELT_INSTALL_DOCDIR})
if(WIN32)
  # Debian's package carries the licence in its copyright file.
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${VELT_INSTALL_DOCDIR} RENAME LICENSE.txt)
endif()
if(WIN32 AND TARGET veltplayer)
  # The Qt and runtime DLLs beside the desktop client come with their licences.
  install(FILES ${PROJECT_SOURCE_DIR}/res/windows/THIRD-PARTY-NOTICES.txt
          DESTINATION ${VELT_INSTALL_DOCDIR})
  install(FILES /usr/share/common-licenses/LGPL-3 DESTINATION ${VELT_INSTALL_DOCDIR}/licenses
          RENAME LGPL-3.txt)
  install(FILES /usr/share/common-licenses/GPL-3 DESTINATION ${VELT_INSTALL_DOCDIR}/licenses
          RENAME GPL-3.txt)
endif()

set(CPACK_PACKAGE_NAME VELTPlayer)
set(CPACK_PACKAGE_VENDOR VELTPlayer)
set(CPACK_PACKAGE_CONTACT "VELTPlayer maintainers <maintainers@users.noreply.c-seed-8e5d3290.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Watch Warcraft III matches that a VELT match server streams")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})

if(WIN32)
  # VELTPlayer-<version>-win64.zip, unpacking into a folder of the same name.
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  # Per generator: the installer puts the files straight into the folder the user chose.
  set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/CPackGenerators.cmake)

  # VELTPlayer-<version>-win64.exe, the installer (cpack -G NSIS), from our own template.
  list(APPEND CMAKE_MODULE_PATH ${PROJECT_SOURCE_DIR}/cmake/nsis)
  set(CPACK_PACKAGE_INSTALL_DIRECTORY VELTPlayer)
  set(CPACK_NSIS_PACKAGE_NAME VELTPlayer)
  set(CPACK_NSIS_DISPLAY_NAME VELTPlayer)
  # app/SettingsFolder.h knows an installed program by this file beside it.
  set(CPACK_NSIS_UNINSTALL_NAME Uninstall)
  set(CPACK_NSIS_COMPRESSOR "/SOLID lzma")
  set(CPACK_NSIS_MUI_ICON ${VELT_WINDOWS_ICON})
  set(CPACK_NSIS_MUI_UNIICON ${VELT_WINDOWS_ICON})
  set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
  set(CPACK_VELT_PUBLISHER ${VELT_PUBLISHER})
  set(CPACK_VELT_VERSION_QUAD ${VELT_VERSION_QUAD})
  # The wizard's side picture: the icon on the icon's colours, drawn when the programs are built.
  find_program(VELT_CONVERT convert REQUIRED)
  set(CPACK_VELT_WIZARD_BITMAP ${PROJECT_BINARY_DIR}/res/windows/installer-side.bmp)
  add_custom_command(OUTPUT ${CPACK_VELT_WIZARD_BITMAP}
                     COMMAND ${VELT_CONVERT} -size 164x314 "gradient:#2E5386-#14243D"
                             ${VELT_WINDOWS_ICON_128} -gravity north -geometry +0+56 -composite
                             BMP3:${CPACK_VELT_WIZARD_BITMAP}
                     DEPENDS ${VELT_WINDOWS_ICON} VERBATIM)
  add_custom_target(velt_installer_bitmap ALL DEPENDS ${CPACK_VELT_WIZARD_BITMAP})
endif()

if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(_velt_res ${PROJECT_SOURCE_DIR}/res)
  set(_velt_gen ${PROJECT_BINARY_DIR}/package)

  # Manual pages and the changelog go in compressed, without time stamps in the archive.
  find_program(VELT_GZIP gzip REQUIRED)
  set(_velt_compressed)
  foreach(page veltplayer velt velt-matchd velt-gamesim)
    add_custom_command(OUTPUT ${_velt_gen}/${page}.1.gz
                       COMMAND ${CMAKE_COMMAND} -E make_directory ${_velt_gen}
                       COMMAND ${CMAKE_COMMAND} -E copy ${_velt_res}/man/${page}.1 ${_velt_gen}/${page}.1
                       COMMAND ${VELT_GZIP} -9 -n -f ${_velt_gen}/${page}.1
                       DEPENDS ${_velt_res}/man/${page}.1 VERBATIM)
    list(APPEND _velt_compressed ${_velt_gen}/${page}.1.gz)
    install(FILES ${_velt_gen}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
  # A package without a Debian revision is native: its changelog is changelog.gz.
  add_custom_command(OUTPUT ${_velt_gen}/changelog.gz
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${_velt_gen}
                     COMMAND ${CMAKE_COMMAND} -E copy ${_velt_res}/linux/changelog ${_velt_gen}/changelog
                     COMMAND ${VELT_GZIP} -9 -n -f ${_velt_gen}/changelog
                     DEPENDS ${_velt_res}/linux/changelog VERBATIM)
  list(APPEND _velt_compressed ${_velt_gen}/changelog.gz)

  set(_velt_icons)
  if(TARGET velt_render_icon)
    foreach(side 48 128 256)
      set(_icon ${_velt_gen}/icons/${side}x${side}/veltplayer.png)
      add_custom_command(OUTPUT ${_icon}
                         COMMAND ${CMAKE_COMMAND} -E make_directory ${_velt_gen}/icons/${side}x${side}
                         COMMAND velt_render_icon ${side} ${_icon}
                         DEPENDS velt_render_icon VERBATIM)
      list(APPEND _velt_icons ${_icon})
      install(FILES ${_icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${side}x${side}/apps)
    endforeach()
  endif()
  add_custom_target(velt_package_files ALL DEPENDS ${_velt_compressed} ${_velt_icons})

  install(FILES ${_velt_res}/icons/veltplayer.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  install(FILES ${_velt_res}/linux/veltplayer.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${_velt_res}/linux/veltplayer.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  # The replay files' type, which the desktop entry opens; shared-mime-info's trigger adds it.
  install(FILES ${_velt_res}/linux/veltplayer.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
  install(FILES ${_velt_res}/linux/copyright ${_velt_gen}/changelog.gz
          DESTINATION ${VELT_INSTALL_DOCDIR})

  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEBIAN_PACKAGE_NAME "veltplayer")
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  # Not "games": that section is for programs in /usr/games, and this is a client of a server.
  set(CPACK_DEBIAN_PACKAGE_SECTION "net")
  set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
  # The libraries the programs link, found by dpkg-shlibdeps, not listed by hand.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "wine")
  # Below the summary line; CPack indents every line and turns an empty one into " .".
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "VELTPlayer shows the matches that a VELT match server streams, live or
finished, and plays the one you pick inside Warcraft III, which runs under
Wine: the client hosts the match as a LAN game on this machine, the game
joins it, and the recorded game traffic is replayed into the game while it
downloads.

The package holds the desktop client veltplayer, the command line client
velt, and the stand-in match server velt-matchd and game velt-gamesim.")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

include(CPack)
