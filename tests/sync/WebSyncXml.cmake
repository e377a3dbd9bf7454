quillary_add_test(NAME sync_websync_xml_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/WebSyncXmlTest.cpp
  LIBS sync
  LABELS sanitize)
