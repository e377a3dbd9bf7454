quillary_add_test(NAME PlistTest SOURCES PlistTest.cpp LIBS platform_plist LABELS sanitize)
