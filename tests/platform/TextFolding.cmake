quillary_add_test(NAME TextFoldingTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/TextFoldingTest.cpp
  LIBS platform_predicate
  LABELS sanitize)
