quillary_add_test(NAME store_utilities_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/QVRUtilitiesTest.cpp
  LIBS store
  LABELS sanitize tsan)
