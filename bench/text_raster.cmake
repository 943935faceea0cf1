# Rasterizing a 1920 x 1080 frame of 60-pixel text from glyph outlines
# against FreeType's rasterizer filling the same outlines.
find_package(PkgConfig REQUIRED)
pkg_check_modules(QEL_BENCH_FREETYPE REQUIRED IMPORTED_TARGET freetype2)
qel_bench(text_raster_bench SOURCES ${CMAKE_SOURCE_DIR}/bench/text_raster_bench.cpp
  DEPS qel_text PkgConfig::QEL_BENCH_FREETYPE)
