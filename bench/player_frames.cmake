# One 1280 x 720 frame of the packed fixture show through the draw controller
# and the root item on the GL device (llvmpipe) at show times on each slide
# and in the dissolve, beside plain GL drawing one full-frame picture.
if(TARGET qel_test_support AND TARGET qel_player)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(QEL_BENCH_EPOXY REQUIRED IMPORTED_TARGET epoxy)
  qel_bench(player_frames_bench SOURCES ${CMAKE_SOURCE_DIR}/bench/player_frames_bench.cpp
    DEPS qel_player qel_test_support PkgConfig::QEL_BENCH_EPOXY)
endif()
