quillary_add_test(NAME platform_data_lists_test
  SOURCES DataNumberWidthTest.cpp DataArrangementTest.cpp
  LIBS platform_data Qt6::Core
  LABELS sanitize MAIN core)
