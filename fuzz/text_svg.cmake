# SVG path data read into paths and rasterized into a small bitmap.
qel_fuzz(text_svg
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/text_svg.cpp
  DEPS qel_text
  DICT svg.dict)
