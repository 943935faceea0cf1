# TList against std::vector<void*>, the container that sets the limit for an
# array of pointers: appends, item reads and sorting.
qel_bench(foundation_lists_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/foundation_lists_bench.cpp DEPS qel_foundation)
