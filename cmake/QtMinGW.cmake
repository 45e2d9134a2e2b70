# The desktop client on Windows. Debian has no Qt for MinGW: scripts/build-qt-mingw.sh builds
# one from Debian's own source into build/qt-mingw/qt6-mingw (or VELT_QT_MINGW_DIR), and its moc,
# rcc and uic are the host's (qt6-base-dev, the same version). Without it the windows build
# leaves the desktop client out.
set(VELT_QT_MINGW_DIR "${PROJECT_SOURCE_DIR}/build/qt-mingw/qt6-mingw"
    CACHE PATH "Qt 6 built for MinGW (scripts/build-qt-mingw.sh)")
if(NOT QT_HOST_PATH)
  set(QT_HOST_PATH /usr CACHE PATH "Where Qt's host tools (moc, rcc, uic) are installed")
endif()
# The toolchain looks for packages only under its roots; Qt's prefix is one more.
list(APPEND CMAKE_FIND_ROOT_PATH "${VELT_QT_MINGW_DIR}")
list(APPEND CMAKE_PREFIX_PATH "${VELT_QT_MINGW_DIR}")
find_package(Qt6 6.4 QUIET COMPONENTS Widgets Test)
if(NOT Qt6Widgets_FOUND OR NOT Qt6Test_FOUND)
  message(STATUS "No Qt for MinGW in ${VELT_QT_MINGW_DIR}: the desktop client is left out "
                 "(scripts/build-qt-mingw.sh builds it)")
  set(VELT_BUILD_GUI OFF)
  return()
endif()
message(STATUS "Qt for MinGW: ${VELT_QT_MINGW_DIR}")

# Where the DLLs that the programs import come from: Qt's, zlib's and the compiler's runtime,
# which Qt itself links dynamically.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-libgcc-file-name
                OUTPUT_VARIABLE _velt_libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(_velt_gcc_dir "${_velt_libgcc}" DIRECTORY)
set(VELT_RUNTIME_DLL_DIRS "${VELT_QT_MINGW_DIR}/bin" "/usr/x86_64-w64-mingw32/lib" "${_velt_gcc_dir}")
find_program(VELT_OBJDUMP x86_64-w64-mingw32-objdump REQUIRED)
find_program(VELT_STRIP x86_64-w64-mingw32-strip REQUIRED)
# Qt loads these by name, so no import table names them. offscreen is for the GUI tests.
set(VELT_QT_PLUGINS platforms/qwindows.dll platforms/qoffscreen.dll styles/qwindowsvistastyle.dll)
# The faces that the offscreen platform draws with; it reads font files from one folder and
# finds none on Windows by itself.
set(VELT_OFFSCREEN_FONTS /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
                         /usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf)

# After each build of target, the DLLs and plugins it needs go beside it, and with OFFSCREEN the
# font files that the offscreen platform reads (tests find them in fonts/ beside the program).
function(velt_deploy_qt_runtime target)
  cmake_parse_arguments(ARG "OFFSCREEN" "" "" ${ARGN})
  string(REPLACE ";" "$<SEMICOLON>" _dirs "${VELT_RUNTIME_DLL_DIRS}")
  string(REPLACE ";" "$<SEMICOLON>" _plugins "${VELT_QT_PLUGINS}")
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} "-DVELT_DEPLOY_PROGRAMS=$<TARGET_FILE:${target}>"
            "-DVELT_DEPLOY_DEST=$<TARGET_FILE_DIR:${target}>" "-DVELT_DEPLOY_DIRS=${_dirs}"
            "-DVELT_DEPLOY_PLUGIN_ROOT=${VELT_QT_MINGW_DIR}/plugins" "-DVELT_DEPLOY_PLUGINS=${_plugins}"
            "-DVELT_DEPLOY_OBJDUMP=${VELT_OBJDUMP}" -P ${PROJECT_SOURCE_DIR}/cmake/DeployRuntime.cmake
    VERBATIM)
  if(ARG_OFFSCREEN)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E make_directory "$<TARGET_FILE_DIR:${target}>/fonts"
      COMMAND ${CMAKE_COMMAND} -E copy_if_different ${VELT_OFFSCREEN_FONTS}
              "$<TARGET_FILE_DIR:${target}>/fonts"
      VERBATIM)
  endif()
endfunction()

# The same for an installed program, in the install folder (the ZIP's contents), without symbols.
function(velt_install_qt_runtime target destination)
  install(CODE "
    set(VELT_DEPLOY_DEST \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${destination}\")
    set(VELT_DEPLOY_PROGRAMS \"\${VELT_DEPLOY_DEST}/$<TARGET_FILE_NAME:${target}>\")
    set(VELT_DEPLOY_DIRS \"${VELT_RUNTIME_DLL_DIRS}\")
    set(VELT_DEPLOY_PLUGIN_ROOT \"${VELT_QT_MINGW_DIR}/plugins\")
    set(VELT_DEPLOY_PLUGINS platforms/qwindows.dll styles/qwindowsvistastyle.dll)
    set(VELT_DEPLOY_OBJDUMP \"${VELT_OBJDUMP}\")
    set(VELT_DEPLOY_STRIP \"${VELT_STRIP}\")
    include(\"${PROJECT_SOURCE_DIR}/cmake/DeployRuntime.cmake\")")
endfunction()
