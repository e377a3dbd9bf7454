find_package(ZLIB REQUIRED)
quillary_add_test(NAME sync_websync_protocol_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/WebSyncProtocolTest.cpp ${CMAKE_CURRENT_LIST_DIR}/WebSyncFakeService.h
    ${CMAKE_CURRENT_LIST_DIR}/WebSyncFixture.h
  LIBS sync store platform_secret platform_ops ZLIB::ZLIB Qt6::Network
  MAIN core
  LABELS sanitize
  TIMEOUT 240)
