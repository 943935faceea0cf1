# The media probe over RIFF/WAVE input (the chunk walk, MPEG inside RIFF)
# and the WAV and ADPCM converters with the resampler behind them.
qel_fuzz(audio_wav
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/audio_wav.cpp
  DEPS qel_audio
  MAX_LEN 16384 DICT wav.dict)
