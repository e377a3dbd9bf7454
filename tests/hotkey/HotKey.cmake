quillary_add_test(NAME HotKeyRegistryTest SOURCES HotKeyRegistryTest.cpp LIBS hotkey LABELS sanitize)
quillary_add_test(NAME KeyStringsTest SOURCES KeyStringsTest.cpp LIBS hotkey LABELS sanitize)
quillary_add_test(NAME ShortcutValidatorTest SOURCES ShortcutValidatorTest.cpp HotKeyTestMain.cpp LIBS hotkey NO_MAIN LABELS sanitize)
quillary_add_test(NAME RecorderCellTest SOURCES RecorderCellTest.cpp HotKeyTestMain.cpp LIBS hotkey Qt6::Test NO_MAIN LABELS sanitize)
