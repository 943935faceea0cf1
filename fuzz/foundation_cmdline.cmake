# Command-line texts (the parameters of actions that open another show carry
# their own command line) and date patterns, from bytes.
qel_fuzz(foundation_cmdline_fuzz
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/foundation_cmdline_fuzz.cpp
  DEPS qel_foundation)
