# The show's music from project text: the music options reader, the music
# plan over a slide table from "Times", and composite descriptions read back.
qel_fuzz(audio_music
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/audio_music.cpp
  DEPS qel_audio
  MAX_LEN 16384 DICT music.dict)
