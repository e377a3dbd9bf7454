quillary_add_test(NAME calculator_decimal_type_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/DecimalTypeTest.cpp
                  LIBS calculator LABELS sanitize)
