# Pixel conversion, premultiplication, the mip chain and the ICC transform on
# a 24-megapixel bitmap, each beside the library call that sets its limit
# (memcpy of the same bytes, LittleCMS's own transform of the same buffer).
qel_bench(imaging_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/imaging_bench.cpp DEPS qel_imaging)
