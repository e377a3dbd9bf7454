quillary_add_test(NAME platform_ops_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/OpsTest.cpp
  LIBS platform_ops platform_core Qt6::Core
  MAIN core
  LABELS sanitize)
