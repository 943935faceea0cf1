# The MPEG audio probe: ID3v2 lengths, the search for two consecutive frame
# headers, Xing and VBRI headers, the ID3v1 trailer, the frame walk.
qel_fuzz(audio_mpeg
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/audio_mpeg.cpp
  DEPS qel_audio
  MAX_LEN 8192 DICT mpeg.dict)
