# The GIF reader and loader: blocks and extensions, LZW decoding, frame
# skipping, and the frames atlas with its disposal rules.
qel_fuzz(decoders_gif
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/decoders_gif.cpp
  DEPS qel_decoders
  MAX_LEN 65536 DICT gif.dict)
