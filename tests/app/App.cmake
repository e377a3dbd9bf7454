# The application's delegate, list and editor, offscreen, each test over a
# store and settings file of its own.
quillary_add_test(NAME app_notes_test
  SOURCES CentralSaveTest.cpp LayoutTest.cpp SearchTest.cpp LifecycleTest.cpp
          WindowModesTest.cpp EditorTest.cpp
  LIBS app test_support Qt6::Test
  LABELS sanitize
  MAIN widgets)

# The search filter: the typed search through the application, and agreement
# with the predicate layer on generated texts.
quillary_add_test(NAME app_search_filter_test
  SOURCES SearchFilterTest.cpp
  LIBS app test_support Qt6::Test
  LABELS sanitize
  MAIN widgets)

# Menus, their enabling, the recent-notes menu and Calculate.
quillary_add_test(NAME app_menus_test
  SOURCES MenusTest.cpp CalculateTest.cpp
  LIBS app test_support Qt6::Test
  LABELS sanitize
  MAIN widgets)

# Files, URLs, the script commands, export, copy, sharing and printing.
quillary_add_test(NAME app_commands_test
  SOURCES CommandsTest.cpp
  LIBS app test_support Qt6::Test Qt6::PrintSupport
  LABELS sanitize
  MAIN widgets)
