# Laying out and painting lines of mixed text against HarfBuzz shaping the
# same lines directly.
find_package(PkgConfig REQUIRED)
pkg_check_modules(QEL_BENCH_HARFBUZZ REQUIRED IMPORTED_TARGET harfbuzz)
qel_bench(text_layout_bench SOURCES ${CMAKE_SOURCE_DIR}/bench/text_layout_bench.cpp
  DEPS qel_text PkgConfig::QEL_BENCH_HARFBUZZ)
