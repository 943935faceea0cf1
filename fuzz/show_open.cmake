# Opening a show and showing its pictures: packed shows (every entry method,
# the embedded colour table) and loose previews (path modifiers, store paths,
# link files), the colour set-up, image dispatch and mip levels 0-3 with
# conversion and quarter turns. The container writer of the tests builds the
# packed shows.
find_package(ZLIB REQUIRED)
qel_fuzz(show_open
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/show_open.cpp ${CMAKE_SOURCE_DIR}/tests/support/ContainerBuilder.cpp
  DEPS qel_player qel_showmodel qel_decoders qel_container ZLIB::ZLIB
  MAX_LEN 262144 DICT show.dict)
