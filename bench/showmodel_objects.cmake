# Building the object trees of 100 slides of 20 objects from loaded property
# trees, and one frame of a 20-object slide (evaluation, transform, drawing
# on a draw manager that discards the calls).
qel_bench(showmodel_objects_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/showmodel_objects_bench.cpp DEPS qel_showmodel)
