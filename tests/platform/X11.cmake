quillary_add_test(NAME X11KeyMapTest SOURCES X11KeyMapTest.cpp LIBS platform_x11 MAIN gui LABELS sanitize)
