# Text layout of arbitrary UTF-16 (lone surrogates, marks, bidirectional
# controls, characters no face has) over the pinned test fonts.
# The font layer caches fonts, faces, glyphs and shaping results across
# inputs, which the per-input leak check takes for leaks (and runs its slow
# scan after nearly every input); the ASan test programs check that releasing
# the caches leaves nothing behind.
qel_fuzz(text_layout_fuzz
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/text_layout_fuzz.cpp
  DEPS qel_text
  ARGS -detect_leaks=0)
