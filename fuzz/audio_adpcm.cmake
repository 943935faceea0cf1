# The ADPCM decoders of the acm area: MS and IMA block headers, coefficient
# tables, partial blocks.
qel_fuzz(audio_adpcm
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/audio_adpcm.cpp
  DEPS qel_platform_acm qel_foundation
  MAX_LEN 16384)
