# One frame's geometry of every transition at 1920 x 1080 over the finest
# tile grid (64 x 64 tiles).
qel_bench(transitions_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/transitions_bench.cpp DEPS qel_transitions)
