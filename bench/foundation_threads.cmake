# Cross-thread post and send latency of the thread message queue (median and
# 99th percentile) against a bare std::mutex + std::condition_variable
# hand-off, the floor for waking another thread; and log lines per second
# against appending the same UTF-8 lines to a std::string under a std::mutex.
qel_bench(foundation_threads_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/foundation_threads_bench.cpp DEPS qel_foundation)
