# The screen, texture store and draw manager on the GL device beside plain GL
# doing the same work: a 24-megapixel picture fitted to 1920 x 1080 (first
# draw with upload, then cached) and a frame of 200 textured items.
find_package(PkgConfig REQUIRED)
pkg_check_modules(QEL_BENCH_EPOXY REQUIRED IMPORTED_TARGET epoxy)
qel_bench(render3d_drawer_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/render3d_drawer_bench.cpp
          DEPS qel_render3d PkgConfig::QEL_BENCH_EPOXY)
