# The show container: trailer, directory and every entry stream, from bytes.
find_package(ZLIB REQUIRED)
qel_fuzz(container_fuzz
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/container_fuzz.cpp
  DEPS qel_container ZLIB::ZLIB
  MAX_LEN 65536 DICT container.dict)
