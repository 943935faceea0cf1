# The formula compiler and evaluator of key-frame modifiers.
qel_fuzz(showmodel_calc
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/showmodel_calc.cpp
  DEPS qel_showmodel)
