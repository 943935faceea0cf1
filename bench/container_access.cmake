# Opening a show of 1,000 entries through the file accessor and decoding its
# pictures, against a plain stdio read of the same entries and libjpeg
# decoding the same bytes directly. Needs the test-support writers.
if(TARGET qel_test_support AND TARGET qel_decoders)
  qel_bench(container_access_bench SOURCES ${CMAKE_SOURCE_DIR}/bench/container_access_bench.cpp
    DEPS qel_container qel_decoders qel_test_support)
endif()
