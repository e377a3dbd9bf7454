quillary_add_test(NAME platform_predicate_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/PredicateTest.cpp
  LIBS platform_predicate PkgConfig::SQLITE3
  LABELS sanitize tsan)
