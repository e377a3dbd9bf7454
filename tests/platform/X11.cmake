quillary_add_test(NAME platform_x11_keymap_test SOURCES X11KeyMapTest.cpp LIBS platform_x11 MAIN gui LABELS sanitize)
