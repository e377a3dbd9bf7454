# The application's delegate, list and editor, offscreen, each test over a
# store and settings file of its own.
quillary_add_test(NAME app_notes_test
  SOURCES CentralSaveTest.cpp LayoutTest.cpp SearchTest.cpp LifecycleTest.cpp
          WindowModesTest.cpp EditorTest.cpp
  LIBS app test_support Qt6::Test
  LABELS sanitize
  MAIN widgets)

# The open note's owner without a window (no widgets, a plain core
# application): central-save cases, script commands on the open note, saves
# that fail on a full disk, the bounded autosave and recovery files.
quillary_add_test(NAME app_session_test
  SOURCES NoteSessionTest.cpp
  LIBS app test_support
  LABELS sanitize
  MAIN core)

# The search filter: the typed search through the application, and agreement
# with the predicate layer on generated texts.
quillary_add_test(NAME app_search_filter_test
  SOURCES SearchFilterTest.cpp
  LIBS app test_support Qt6::Test
  LABELS sanitize
  MAIN widgets)

# The alert every part of the application shows, and the responder tests
# answer it with.
quillary_add_test(NAME app_alerts_test
  SOURCES AlertTest.cpp
  LIBS app test_support Qt6::Test
  LABELS sanitize
  MAIN widgets)

# The command registry, the menus, their enabling, the recent-notes menu and
# Calculate.
quillary_add_test(NAME app_menus_test
  SOURCES MenusTest.cpp CalculateTest.cpp CommandRegistryTest.cpp
  LIBS app test_support Qt6::Test
  LABELS sanitize
  MAIN widgets)

# Files, URLs, the script commands, export, copy, sharing and printing.
quillary_add_test(NAME app_commands_test
  SOURCES CommandsTest.cpp
  LIBS app test_support Qt6::Test Qt6::PrintSupport
  LABELS sanitize
  MAIN widgets)

# The preferences window and its panes.
quillary_add_test(NAME app_preferences_test
  SOURCES PreferencesTest.cpp
  LIBS app test_support Qt6::Test
  LABELS sanitize
  MAIN widgets)

# The Sync pane against the loopback service: the in-memory keyring under the
# sanitizers, the session's keyring (started by scripts/test) in the other run.
find_package(ZLIB REQUIRED)
foreach(backend memory keyring)
  if(backend STREQUAL "memory")
    set(_labels sanitize)
    set(_env QUILLARY_SECRET_BACKEND=memory)
  else()
    set(_labels keyring)
    # Failures can be injected into the in-memory keyring only.
    set(_env QUILLARY_SECRET_BACKEND=libsecret GTEST_FILTER=-*.LockedKeyringStopsTheSignInBeforeAnythingIsSent)
  endif()
  quillary_add_test(NAME app_sync_pane_${backend}_test
    SOURCES SyncPaneTest.cpp
    LIBS app test_support sync store platform_secret platform_ops ZLIB::ZLIB Qt6::Network Qt6::Test
    LABELS ${_labels}
    ENV ${_env}
    MAIN widgets
    TIMEOUT 240)
endforeach()

# The search field alone: its clear button in the accessibility tree.
quillary_add_test(NAME app_search_field_test
  SOURCES SearchFieldTest.cpp
  LIBS app Qt6::Test
  LABELS sanitize
  MAIN widgets)
