# Opening a 1,000-slide project and building its show source (options, the
# default transition set, the slide time table); preparing the next slide in
# the slide cache.
qel_bench(showmodel_timeline_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/showmodel_timeline_bench.cpp DEPS qel_showmodel)
