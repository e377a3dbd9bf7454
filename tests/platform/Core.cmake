quillary_add_test(NAME platform_core_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/CoreTest.cpp ${CMAKE_CURRENT_LIST_DIR}/CoreUserDefaultsTest.cpp
          ${CMAKE_CURRENT_LIST_DIR}/CoreNotificationTest.cpp
  LIBS platform_core
  MAIN core
  LABELS sanitize tsan
  ENV TZ=UTC)
