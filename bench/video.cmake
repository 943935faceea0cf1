# Decoding a 1920 x 1080 H.264 clip through the video source beside a bare
# FFmpeg decode loop with the same thread count, and copying a decoded
# 1080p frame into a YUV image beside plain plane copies. The clip is made
# at build time by tools/make-media.sh (too large to commit).
qel_bench(video_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/video_bench.cpp DEPS qel_video)
find_program(QEL_FFMPEG_TOOL ffmpeg)
set(qel_bench_clip ${CMAKE_BINARY_DIR}/bench_media/bench_1080p_h264.mp4)
if(QEL_FFMPEG_TOOL)
  add_custom_command(OUTPUT ${qel_bench_clip}
    COMMAND bash ${CMAKE_SOURCE_DIR}/tools/make-media.sh --bench ${CMAKE_BINARY_DIR}/bench_media
    DEPENDS ${CMAKE_SOURCE_DIR}/tools/make-media.sh
    COMMENT "Making the 1080p H.264 benchmark clip")
  add_custom_target(video_bench_clip DEPENDS ${qel_bench_clip})
  add_dependencies(video_bench video_bench_clip)
endif()
target_compile_definitions(video_bench PRIVATE QEL_BENCH_CLIP="${qel_bench_clip}")
