quillary_add_test(NAME hotkey_registry_test SOURCES HotKeyRegistryTest.cpp LIBS hotkey LABELS sanitize)
quillary_add_test(NAME hotkey_key_strings_test SOURCES KeyStringsTest.cpp LIBS hotkey LABELS sanitize)
quillary_add_test(NAME hotkey_shortcut_validator_test SOURCES ShortcutValidatorTest.cpp LIBS hotkey MAIN widgets LABELS sanitize)
quillary_add_test(NAME hotkey_recorder_cell_test SOURCES RecorderCellTest.cpp LIBS hotkey Qt6::Test MAIN widgets LABELS sanitize)
quillary_add_test(NAME hotkey_recorder_drawing_test SOURCES RecorderDrawingTest.cpp LIBS hotkey MAIN widgets)
quillary_add_test(NAME hotkey_x11_test SOURCES HotKeyX11Test.cpp LIBS hotkey Qt6::Test MAIN widgets LABELS x11 TIMEOUT 120 ENV QT_QPA_PLATFORM=xcb)
set_tests_properties(hotkey_x11_test PROPERTIES RUN_SERIAL TRUE)  # synthetic keys go to whatever the X server focuses
