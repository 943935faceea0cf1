# The PNG loader: chunk stream, image data across chunks, Adam7, conversion
# to a bitmap, and the iCCP scan.
qel_fuzz(decoders_png
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/decoders_png.cpp
  DEPS qel_decoders
  MAX_LEN 65536 DICT png.dict)
