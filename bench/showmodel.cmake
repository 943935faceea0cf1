# One frame's evaluation of a slide's animated parameters (50 objects, 8 key
# frames and two modifiers each), and compiling 10,000 formulas.
qel_bench(showmodel_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/showmodel_bench.cpp DEPS qel_showmodel)
