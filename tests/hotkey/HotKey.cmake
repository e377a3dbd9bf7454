quillary_add_test(NAME HotKeyRegistryTest SOURCES HotKeyRegistryTest.cpp LIBS hotkey LABELS sanitize)
quillary_add_test(NAME KeyStringsTest SOURCES KeyStringsTest.cpp LIBS hotkey LABELS sanitize)
quillary_add_test(NAME ShortcutValidatorTest SOURCES ShortcutValidatorTest.cpp LIBS hotkey MAIN widgets LABELS sanitize)
quillary_add_test(NAME RecorderCellTest SOURCES RecorderCellTest.cpp LIBS hotkey Qt6::Test MAIN widgets LABELS sanitize)
quillary_add_test(NAME RecorderDrawingTest SOURCES RecorderDrawingTest.cpp LIBS hotkey MAIN widgets)
quillary_add_test(NAME HotKeyX11Test SOURCES HotKeyX11Test.cpp LIBS hotkey Qt6::Test MAIN widgets LABELS x11 TIMEOUT 120 ENV QT_QPA_PLATFORM=xcb)
set_tests_properties(HotKeyX11Test PROPERTIES RUN_SERIAL TRUE)  # synthetic keys go to whatever the X server focuses
