quillary_add_test(NAME PredicateTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/PredicateTest.cpp
  LIBS platform_predicate PkgConfig::SQLITE3
  LABELS sanitize)
