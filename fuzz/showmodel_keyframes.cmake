# Key frames, modifiers and filters loaded from project text, evaluated,
# time-scaled and reloaded.
qel_fuzz(showmodel_keyframes
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/showmodel_keyframes.cpp
  DEPS qel_showmodel
  DICT ini.dict)
