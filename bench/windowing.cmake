# Messages per second through post, get and dispatch from another thread, and
# the round trip of a send to another thread's window, each beside a bare
# std::mutex + std::condition_variable hand-off doing the same work.
qel_bench(windowing_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/windowing_bench.cpp DEPS qel_windowing qel_platform_window)
