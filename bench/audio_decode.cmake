# Decoding a 3-minute MP3 through the MPEG converter beside libmpg123 alone
# on the same bytes, and resampling 44.1 to 48 kHz stereo.
qel_bench(audio_decode_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/audio_decode_bench.cpp DEPS qel_audio)
target_compile_definitions(audio_decode_bench PRIVATE QEL_AUDIO_DATA="${CMAKE_SOURCE_DIR}/tests/audio/data")
