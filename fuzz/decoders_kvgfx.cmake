# Converted images: the field list and the deflated BMP payload.
qel_fuzz(decoders_kvgfx
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/decoders_kvgfx.cpp
  DEPS qel_decoders)
