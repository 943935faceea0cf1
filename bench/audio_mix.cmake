# Mixing 8 channels of 44.1 kHz stereo with volume envelopes through the
# envelope engine and the sound area's mixer, beside a plain loop doing the
# same arithmetic.
qel_bench(audio_mix_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/audio_mix_bench.cpp DEPS qel_audio qel_platform)
