# The INI loader: encoding detection, line classification, nested blocks,
# the escaped single-line form, and writing the tree back.
qel_fuzz(foundation_ini
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/foundation_ini.cpp
  DEPS qel_foundation
  MAX_LEN 16384 DICT ini.dict)
