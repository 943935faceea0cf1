# The BMP decoder through the BMP loader, and the icon DIB reader.
qel_fuzz(decoders_bmp
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/decoders_bmp.cpp
  DEPS qel_decoders
  MAX_LEN 65536 DICT bmp.dict)
