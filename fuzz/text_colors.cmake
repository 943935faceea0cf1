# The colour-text parser that reads the project file, style sheets and icons.
qel_fuzz(text_colors
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/text_colors.cpp
  DEPS qel_text
  DICT colors.dict)
