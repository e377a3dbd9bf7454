quillary_add_test(NAME QVRDateFormatterTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/QVRDateFormatterTest.cpp
  LIBS store
  MAIN core
  LABELS sanitize
  ENV TZ=America/New_York LANG=C.UTF-8)
