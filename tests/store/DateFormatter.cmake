quillary_add_test(NAME store_date_formatter_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/QVRDateFormatterTest.cpp
  LIBS store
  MAIN core
  LABELS sanitize tsan
  ENV TZ=America/New_York LANG=C.UTF-8)
