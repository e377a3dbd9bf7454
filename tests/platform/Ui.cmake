# Undo bridge, swipe tracker and animation helpers, offscreen.
quillary_add_test(NAME platform_ui_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/UndoManagerTest.cpp ${CMAKE_CURRENT_LIST_DIR}/SwipeTrackerTest.cpp ${CMAKE_CURRENT_LIST_DIR}/AnimationTest.cpp
          ${CMAKE_CURRENT_LIST_DIR}/StatusItemTest.cpp
  LIBS platform_ui Qt6::Test
  MAIN widgets
  LABELS sanitize)
# Window-manager requests against the X server that scripts/test starts
# (skipped without one). Serial: one case stands in for the window manager,
# which would hold back the windows of tests running beside it.
quillary_add_test(NAME platform_x11_window_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/X11WindowTest.cpp
  LIBS platform_ui Qt6::Test PkgConfig::XCB
  MAIN gui
  LABELS x11
  ENV QT_QPA_PLATFORM=xcb)
set_tests_properties(platform_x11_window_test PROPERTIES RUN_SERIAL TRUE)
