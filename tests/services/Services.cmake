quillary_add_test(NAME services_root_test
  SOURCES ServicesTest.cpp
  LIBS services Qt6::Core
  LABELS sanitize MAIN core)
