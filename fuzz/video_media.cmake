# Media files through the show-stream input: FFmpeg demuxing and decoding
# (video frames into YUV images, audio blocks resampled), seeks, and the GIF
# video source's indexing and composition.
qel_fuzz(video_media
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/video_media.cpp
  DEPS qel_video
  MAX_LEN 65536)
