quillary_add_test(NAME WebSyncXmlTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/WebSyncXmlTest.cpp
  LIBS sync
  LABELS sanitize)
