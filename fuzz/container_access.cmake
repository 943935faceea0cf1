# Show data read while opening a show: the project's file map and rotation
# lines, path-alias expansion, store macros and link files.
qel_fuzz(container_access_fuzz
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/container_access_fuzz.cpp
  DEPS qel_container
  MAX_LEN 8192 DICT access.dict)
