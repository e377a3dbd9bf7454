quillary_add_test(NAME QVRUtilitiesTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/QVRUtilitiesTest.cpp
  LIBS store
  LABELS sanitize)
