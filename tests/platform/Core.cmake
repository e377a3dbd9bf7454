quillary_add_test(NAME CoreTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/CoreTest.cpp ${CMAKE_CURRENT_LIST_DIR}/CoreUserDefaultsTest.cpp
          ${CMAKE_CURRENT_LIST_DIR}/CoreNotificationTest.cpp
  LIBS platform_core
  MAIN core
  LABELS sanitize
  ENV TZ=UTC)
