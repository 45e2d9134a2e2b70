# The resources of the Windows programs, compiled by windres: the application icon (16, 32, 48
# and 256 px, drawn from res/icons/veltplayer.svg, the art of the Linux icons), a version
# resource and an application manifest. Explorer, the taskbar and Alt+Tab show the icon; the
# file's properties show the version.
enable_language(RC)
find_program(VELT_RSVG_CONVERT rsvg-convert REQUIRED)
find_program(VELT_ICOTOOL icotool REQUIRED)

set(VELT_WINDOWS_ICON ${PROJECT_BINARY_DIR}/res/windows/veltplayer.ico)
set(VELT_PUBLISHER "The VELTPlayer developers")
set(_velt_icon_dir ${PROJECT_BINARY_DIR}/res/windows/icon)
set(_velt_icon_svg ${PROJECT_SOURCE_DIR}/res/icons/veltplayer.svg)
# 128 px is not in the icon: the installer's side picture shows it.
set(VELT_WINDOWS_ICON_128 ${_velt_icon_dir}/128.png)
set(_velt_icon_commands)
foreach(side 16 32 48 128 256)
  list(APPEND _velt_icon_commands COMMAND ${VELT_RSVG_CONVERT} --width ${side} --height ${side}
       --output ${_velt_icon_dir}/${side}.png ${_velt_icon_svg})
endforeach()
# Windows takes the 256 px image as PNG and the small ones as bitmaps with alpha.
add_custom_command(OUTPUT ${VELT_WINDOWS_ICON} ${VELT_WINDOWS_ICON_128}
                   COMMAND ${CMAKE_COMMAND} -E make_directory ${_velt_icon_dir}
                   ${_velt_icon_commands}
                   COMMAND ${VELT_ICOTOOL} --create --output ${VELT_WINDOWS_ICON}
                           ${_velt_icon_dir}/16.png ${_velt_icon_dir}/32.png
                           ${_velt_icon_dir}/48.png --raw=${_velt_icon_dir}/256.png
                   DEPENDS ${_velt_icon_svg} VERBATIM)
add_custom_target(velt_windows_icon DEPENDS ${VELT_WINDOWS_ICON})

# Windows versions have four numbers: 0.4 is 0.4.0.0.
set(VELT_VERSION_NUMBERS)
foreach(part MAJOR MINOR PATCH TWEAK)
  if("${PROJECT_VERSION_${part}}" STREQUAL "")
    list(APPEND VELT_VERSION_NUMBERS 0)
  else()
    list(APPEND VELT_VERSION_NUMBERS ${PROJECT_VERSION_${part}})
  endif()
endforeach()
list(JOIN VELT_VERSION_NUMBERS "." VELT_VERSION_QUAD)
list(JOIN VELT_VERSION_NUMBERS "," VELT_VERSION_COMMAS)

# Gives a program its icon, version resource and manifest. DESCRIPTION is the file description
# that Explorer shows; GUI gives the desktop client's manifest (per-monitor DPI awareness,
# common controls 6), the others the console programs'.
function(velt_windows_resources target)
  cmake_parse_arguments(ARG "GUI" "DESCRIPTION" "" ${ARGN})
  set(_dir ${PROJECT_BINARY_DIR}/res/windows/${target})
  set(VELT_RC_DESCRIPTION "${ARG_DESCRIPTION}")
  set(VELT_RC_FILE_NAME "${target}.exe")
  set(VELT_RC_INTERNAL_NAME "${target}")
  set(VELT_RC_ICON "${VELT_WINDOWS_ICON}")
  set(VELT_RC_MANIFEST "${_dir}/${target}.manifest")
  if(ARG_GUI)
    set(_manifest ${PROJECT_SOURCE_DIR}/res/windows/desktop.manifest.in)
  else()
    set(_manifest ${PROJECT_SOURCE_DIR}/res/windows/console.manifest.in)
  endif()
  configure_file(${_manifest} ${VELT_RC_MANIFEST} @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/res/windows/program.rc.in ${_dir}/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${_dir}/${target}.rc)
  # windres reports no dependencies: the icon and the manifest are named here.
  set_source_files_properties(${_dir}/${target}.rc PROPERTIES
                              OBJECT_DEPENDS "${VELT_WINDOWS_ICON};${VELT_RC_MANIFEST}")
  add_dependencies(${target} velt_windows_icon)
endfunction()
