# The os area's file writes and reads against the bare system calls on an
# open descriptor: the cost of the handle table, the share-mode layer and the
# fault-injection seam on every call.
qel_bench(platform_files_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/platform_files_bench.cpp DEPS qel_platform)
