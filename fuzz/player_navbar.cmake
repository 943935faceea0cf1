# The navigation-bar description a show carries: grids, cells, buttons and
# texture rectangles of any size.
qel_fuzz(player_navbar
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/player_navbar.cpp
  DEPS qel_player
  MAX_LEN 8192)
