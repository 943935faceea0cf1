# A packed show of photo-like 24-megapixel JPEGs: the time from opening it to
# the first slide's picture decoded at the 1080p level and colour converted,
# and the peak resident memory of decoding a 1,000-picture show one picture
# after another. The fixtures are made at run time.
if(TARGET qel_test_support AND TARGET qel_decoders)
  find_package(JPEG REQUIRED)
  qel_bench(show_pictures_bench SOURCES ${CMAKE_SOURCE_DIR}/bench/show_pictures_bench.cpp
    DEPS qel_container qel_decoders qel_test_support JPEG::JPEG)
endif()
