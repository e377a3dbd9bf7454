quillary_add_test(NAME store_object_controller_test
  SOURCES ObjectControllerTest.cpp
  LIBS store Qt6::Core Qt6::Test
  LABELS sanitize MAIN core)
