# Puts beside Windows programs the DLLs that they load, found from the import tables of the
# programs and of every DLL they pull in (objdump -p, recursively), and the Qt plugins that Qt
# loads by name at run time, with their own DLLs. An import found in none of the search folders
# belongs to Windows itself and is left out. Windows matches DLL names without regard to case,
# and so does this.
#
# cmake -DVELT_DEPLOY_PROGRAMS=a.exe;b.exe -DVELT_DEPLOY_DEST=dir
#       -DVELT_DEPLOY_DIRS=dir1;dir2 -DVELT_DEPLOY_PLUGIN_ROOT=qt/plugins
#       -DVELT_DEPLOY_PLUGINS=platforms/qwindows.dll;... -DVELT_DEPLOY_OBJDUMP=objdump
#       -P DeployRuntime.cmake
# Plugins keep their folder below the plugin root (platforms/...) under the destination, where
# Qt looks for them. Only files that changed are copied. With -DVELT_DEPLOY_STRIP=<strip> the
# copies lose their symbols (for a package: the MinGW runtime shrinks from 23 MB to 2 MB).
cmake_minimum_required(VERSION 3.25)

foreach(var VELT_DEPLOY_PROGRAMS VELT_DEPLOY_DEST VELT_DEPLOY_OBJDUMP)
  if(NOT ${var})
    message(FATAL_ERROR "DeployRuntime: ${var} is not set")
  endif()
endforeach()

# Lower-case DLL name -> where it is, the first search folder winning.
set(_known "")
foreach(dir IN LISTS VELT_DEPLOY_DIRS)
  file(GLOB _dlls LIST_DIRECTORIES false "${dir}/*.dll" "${dir}/*.DLL")
  foreach(dll IN LISTS _dlls)
    get_filename_component(_name "${dll}" NAME)
    string(TOLOWER "${_name}" _name)
    if(NOT DEFINED _where_${_name})
      set(_where_${_name} "${dll}")
      list(APPEND _known "${_name}")
    endif()
  endforeach()
endforeach()

function(_velt_strip file)
  if(VELT_DEPLOY_STRIP)
    execute_process(COMMAND "${VELT_DEPLOY_STRIP}" --strip-unneeded "${file}" COMMAND_ERROR_IS_FATAL ANY)
  endif()
endfunction()

set(_queue ${VELT_DEPLOY_PROGRAMS})
foreach(plugin IN LISTS VELT_DEPLOY_PLUGINS)
  set(_from "${VELT_DEPLOY_PLUGIN_ROOT}/${plugin}")
  if(NOT EXISTS "${_from}")
    message(FATAL_ERROR "DeployRuntime: no plugin ${_from}")
  endif()
  get_filename_component(_subdir "${plugin}" DIRECTORY)
  file(COPY "${_from}" DESTINATION "${VELT_DEPLOY_DEST}/${_subdir}")
  _velt_strip("${VELT_DEPLOY_DEST}/${plugin}")
  list(APPEND _queue "${_from}")
endforeach()

set(_deployed "")
set(_system "")
while(_queue)
  list(POP_FRONT _queue _file)
  execute_process(COMMAND "${VELT_DEPLOY_OBJDUMP}" -p "${_file}"
                  OUTPUT_VARIABLE _dump RESULT_VARIABLE _rc ERROR_VARIABLE _err)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "DeployRuntime: objdump -p ${_file} failed: ${_err}")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\r\n]+" _imports "${_dump}")
  foreach(import IN LISTS _imports)
    string(REGEX REPLACE "^DLL Name: " "" _name "${import}")
    string(STRIP "${_name}" _name)
    string(TOLOWER "${_name}" _name)
    if(_name IN_LIST _deployed OR _name IN_LIST _system)
      continue()
    endif()
    if(DEFINED _where_${_name})
      list(APPEND _deployed "${_name}")
      file(COPY "${_where_${_name}}" DESTINATION "${VELT_DEPLOY_DEST}")
      get_filename_component(_copied "${_where_${_name}}" NAME)
      _velt_strip("${VELT_DEPLOY_DEST}/${_copied}")
      list(APPEND _queue "${_where_${_name}}")
    else()
      list(APPEND _system "${_name}")
    endif()
  endforeach()
endwhile()

list(SORT _deployed)
list(SORT _system)
list(JOIN _deployed " " _deployedText)
list(JOIN _system " " _systemText)
message(STATUS "DeployRuntime: beside the programs: ${_deployedText}")
message(STATUS "DeployRuntime: left to Windows: ${_systemText}")
