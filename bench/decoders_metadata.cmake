# Exif and IPTC of a 24-megapixel photograph read from its file, against
# reading the file's first 64 KB.
find_package(JPEG REQUIRED)
qel_bench(decoders_metadata_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/decoders_metadata_bench.cpp
          ${CMAKE_SOURCE_DIR}/tests/support/JpegMaker.cpp
          ${CMAKE_SOURCE_DIR}/tests/support/MetadataMaker.cpp
  DEPS qel_decoders JPEG::JPEG)
