# Photo metadata: the Exif reader, and the JPEG segment walk with the Adobe
# resource blocks and the IPTC reader.
qel_fuzz(decoders_exif
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/decoders_exif.cpp
  DEPS qel_decoders
  MAX_LEN 65536 DICT jpeg.dict)
qel_fuzz(decoders_iptc
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/decoders_iptc.cpp
  DEPS qel_decoders
  MAX_LEN 65536 DICT jpeg.dict)
