# Container stream throughput against the libraries that set the limit:
# zlib's own raw inflate for inflated entries, a plain C stdio read for
# stored entries.
find_package(ZLIB REQUIRED)
qel_bench(container_bench SOURCES ${CMAKE_SOURCE_DIR}/bench/container_bench.cpp DEPS qel_container ZLIB::ZLIB)
