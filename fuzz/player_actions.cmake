# What a show hands the player's utilities: action texts run as programs or
# opened as addresses (through a recording opener, never a real one), the
# input mapping built from the project's options, and nine-patch skins with
# caps and rectangles of any size.
qel_fuzz(player_actions
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/player_actions.cpp
  DEPS qel_player
  MAX_LEN 4096)
