# Icon and cursor files (with their PNG images) and the resource sections of
# executables: both arrive as files named by icon locations.
qel_fuzz(imaging_ico SOURCES ${CMAKE_CURRENT_LIST_DIR}/imaging_ico.cpp DEPS qel_decoders MAX_LEN 65536)
qel_fuzz(imaging_pe SOURCES ${CMAKE_CURRENT_LIST_DIR}/imaging_pe.cpp DEPS qel_imaging MAX_LEN 16384)
