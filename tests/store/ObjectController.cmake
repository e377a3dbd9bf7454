quillary_add_test(NAME store_object_controller_test
  SOURCES StoreTestMain.cpp ObjectControllerTest.cpp
  LIBS store Qt6::Core Qt6::Test
  LABELS sanitize NO_MAIN)
