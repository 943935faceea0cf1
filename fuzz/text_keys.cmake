# Text-image keys ("Text: ", "VectTxt2: "), quoted lines, style texts and the
# case markup of lines.
qel_fuzz(text_keys
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/text_keys.cpp
  DEPS qel_text
  DICT textkeys.dict)
