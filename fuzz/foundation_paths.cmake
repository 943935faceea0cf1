# Path text: the long-path prefix rules, the path utilities, relative paths,
# macro tokens and the file-name byte translation.
qel_fuzz(foundation_paths
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/foundation_paths.cpp
  DEPS qel_foundation)
