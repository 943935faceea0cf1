# The control style sheet: scheme colours, colour-name chains, style states
# and their box pictures.
qel_fuzz(controls_styles
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/controls_styles.cpp
  DEPS qel_controls)
