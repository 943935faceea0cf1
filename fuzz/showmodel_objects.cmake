# Object trees built from the object blocks of project text: loaded through
# the factory, evaluated, placed, drawn on a draw manager that discards the
# calls, hit-tested, measured and reloaded.
qel_fuzz(showmodel_objects
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/showmodel_objects.cpp
  DEPS qel_showmodel
  DICT ini.dict)
