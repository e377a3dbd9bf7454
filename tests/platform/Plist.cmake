quillary_add_test(NAME platform_plist_test SOURCES PlistTest.cpp LIBS platform_plist LABELS sanitize)
