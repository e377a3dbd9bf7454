quillary_add_test(NAME QVRDateFormatterTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/QVRDateFormatterTest.cpp
  LIBS store
  NO_MAIN
  LABELS sanitize
  ENV TZ=America/New_York LANG=C.UTF-8)
