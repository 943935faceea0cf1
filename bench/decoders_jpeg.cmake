# The JPEG loader against the library's own decompression of the same file
# at the same scale and settings, in the same run.
find_package(JPEG REQUIRED)
qel_bench(decoders_jpeg_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/decoders_jpeg_bench.cpp
          ${CMAKE_SOURCE_DIR}/tests/support/JpegMaker.cpp
  DEPS qel_decoders JPEG::JPEG)
