quillary_add_test(NAME services_test
  SOURCES ServicesTest.cpp
  LIBS services Qt6::Core
  LABELS sanitize NO_MAIN)
