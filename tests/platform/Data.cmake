quillary_add_test(NAME platform_data_test
  SOURCES DataContextTest.cpp DataValuesTest.cpp DataWritersTest.cpp
  LIBS platform_data Qt6::Core
  LABELS sanitize tsan MAIN core)
