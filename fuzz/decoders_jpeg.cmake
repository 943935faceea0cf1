# The JPEG loader: header read, marker scan and decoding of the levels the
# loader produces directly.
qel_fuzz(decoders_jpeg
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/decoders_jpeg.cpp
  DEPS qel_decoders
  MAX_LEN 65536 DICT jpeg.dict)
