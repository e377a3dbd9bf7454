quillary_add_test(NAME HotKeyRegistryTest SOURCES HotKeyRegistryTest.cpp LIBS hotkey LABELS sanitize)
quillary_add_test(NAME KeyStringsTest SOURCES KeyStringsTest.cpp LIBS hotkey LABELS sanitize)
quillary_add_test(NAME ShortcutValidatorTest SOURCES ShortcutValidatorTest.cpp HotKeyTestMain.cpp LIBS hotkey NO_MAIN LABELS sanitize)
quillary_add_test(NAME RecorderCellTest SOURCES RecorderCellTest.cpp HotKeyTestMain.cpp LIBS hotkey Qt6::Test NO_MAIN LABELS sanitize)
quillary_add_test(NAME RecorderDrawingTest SOURCES RecorderDrawingTest.cpp HotKeyTestMain.cpp LIBS hotkey NO_MAIN)
quillary_add_test(NAME HotKeyX11Test SOURCES HotKeyX11Test.cpp LIBS hotkey Qt6::Test NO_MAIN LABELS x11 TIMEOUT 120 ENV QT_QPA_PLATFORM=xcb)
set_tests_properties(HotKeyX11Test PROPERTIES RUN_SERIAL TRUE)  # synthetic keys go to whatever the X server focuses
