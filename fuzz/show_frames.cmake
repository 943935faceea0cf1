# Frames of a show from bytes: the show packed, opened as the player opens
# it (with its play check) and drawn at a handful of show times through the
# draw controller on the recording renderer: slide selection, key frames,
# object placement, text layout and every transition's draw filter. The
# container writer and the frame driver of the tests build and draw it.
find_package(ZLIB REQUIRED)
qel_fuzz(show_frames
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/show_frames.cpp ${CMAKE_SOURCE_DIR}/tests/support/ContainerBuilder.cpp
  DEPS qel_player qel_showmodel qel_video qel_decoders qel_container ZLIB::ZLIB
  MAX_LEN 262144 DICT frames.dict)
