quillary_add_test(NAME HotKeyRegistryTest SOURCES HotKeyRegistryTest.cpp LIBS hotkey LABELS sanitize)
