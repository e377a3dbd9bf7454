quillary_add_test(NAME platform_text_folding_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/TextFoldingTest.cpp
  LIBS platform_predicate
  LABELS sanitize)
