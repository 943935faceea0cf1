# The PNG loader (decode and conversion to a bitmap) against libpng decoding
# the same file in the same run; libpng is used only here.
find_package(PNG REQUIRED)
qel_bench(decoders_png_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/decoders_png_bench.cpp DEPS qel_decoders PNG::PNG)
