# The timeline of a project from its text: effect definitions, the slide
# order, the time table, slide searches, transition choice (random and fixed),
# end actions and object actions.
qel_fuzz(showmodel_timeline
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/showmodel_timeline.cpp
  DEPS qel_showmodel
  MAX_LEN 65536 DICT timeline.dict)
