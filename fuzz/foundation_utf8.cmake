# UTF-8 decoding, byte-string parsers, comma lists and the key-value parser.
qel_fuzz(foundation_utf8
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/foundation_utf8.cpp
  DEPS qel_foundation)
