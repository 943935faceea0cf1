# Number, hexadecimal and GUID text parsers of the foundation library.
qel_fuzz(foundation_numbers
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/foundation_numbers.cpp
  DEPS qel_foundation)
