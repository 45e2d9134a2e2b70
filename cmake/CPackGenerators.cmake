# Read by CPack once per generator. The ZIP unpacks into a folder of its own name; the NSIS
# installer puts the files straight into the folder the user chose, and would reset the option
# itself, with a warning.
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
endif()
