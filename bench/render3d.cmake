# The 3D layer on the GL device beside plain GL calls doing the same work in
# the same context: uploading a 3840 x 2160 picture with its mip levels, and
# 10,000 textured quads per frame. Runs on SDL's offscreen driver.
find_package(PkgConfig REQUIRED)
pkg_check_modules(QEL_BENCH_EPOXY REQUIRED IMPORTED_TARGET epoxy)
qel_bench(render3d_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/render3d_bench.cpp
          DEPS qel_render3d PkgConfig::QEL_BENCH_EPOXY)
