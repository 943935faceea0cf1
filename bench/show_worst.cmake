# The worst a show may ask: one frame's text work for a 40,000-character
# line against shaping it once, one frame of the largest mosaic against a
# dissolve on the recording renderer, and opening a 100,000-slide show
# (time and peak memory) against reading its project text alone.
if(TARGET qel_test_support AND TARGET qel_player)
  qel_bench(show_worst_bench SOURCES ${CMAKE_SOURCE_DIR}/bench/show_worst_bench.cpp
    DEPS qel_player qel_video qel_test_support)
endif()
