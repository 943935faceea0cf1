# Run-length DIB data and embedded ICC profiles: both arrive from image files.
qel_fuzz(imaging_rle SOURCES ${CMAKE_CURRENT_LIST_DIR}/imaging_rle.cpp DEPS qel_imaging MAX_LEN 16384)
qel_fuzz(imaging_icc SOURCES ${CMAKE_CURRENT_LIST_DIR}/imaging_icc.cpp DEPS qel_imaging MAX_LEN 16384)
# The resource keys a show names generated images by ("Shadow: ",
# "PresetedMask:", "Button: "): parsed, rebuilt and, at small sizes, rendered.
qel_fuzz(imaging_keys SOURCES ${CMAKE_CURRENT_LIST_DIR}/imaging_keys.cpp DEPS qel_imaging)
