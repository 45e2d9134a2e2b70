# Layers that the build enforces. Every include names its folder from the top of the tree
# ("host/CGameSession.h"), so a library that may include a folder gets an include root of its
# own in the build tree that holds a link to that folder and nothing else. An include against
# the layering finds no file and fails to compile.
#
#   velt_include_root(<target> <PUBLIC|PRIVATE|INTERFACE> <folder>...)
#
# A folder may be nested ("tools/replay"); each root is shared by everyone who links the target.
function(velt_include_root target visibility)
  set(root ${PROJECT_BINARY_DIR}/include-roots/${target})
  foreach(folder IN LISTS ARGN)
    get_filename_component(parent ${root}/${folder} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endforeach()
  target_include_directories(${target} ${visibility} ${root})
endfunction()
