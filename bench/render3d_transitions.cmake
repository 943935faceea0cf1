# One transition frame (the filter's geometry through the triangle
# controller plus the drawing) of several kinds at 1280 x 720 on the GL
# device, beside plain GL cross-fading the same two pictures.
find_package(PkgConfig REQUIRED)
pkg_check_modules(QEL_BENCH_EPOXY REQUIRED IMPORTED_TARGET epoxy)
qel_bench(render3d_transitions_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/render3d_transitions_bench.cpp
          DEPS qel_render3d PkgConfig::QEL_BENCH_EPOXY)
