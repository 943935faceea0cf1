# Converted images: the field list and the deflated BMP payload.
find_package(ZLIB REQUIRED)
qel_fuzz(decoders_kvgfx
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/decoders_kvgfx.cpp
  DEPS qel_decoders ZLIB::ZLIB
  MAX_LEN 65536 DICT kvgfx.dict)
