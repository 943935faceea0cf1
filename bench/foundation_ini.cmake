# Loading a large project INI text into the tree, against a minimal reader
# over std containers (line scan with memchr, key/value views in a
# std::unordered_map per section) that sets the limit for one pass over the bytes.
qel_bench(foundation_ini_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/foundation_ini_bench.cpp DEPS qel_foundation)
