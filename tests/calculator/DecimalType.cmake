quillary_add_test(NAME calculator_decimal_type SOURCES ${CMAKE_CURRENT_LIST_DIR}/DecimalTypeTest.cpp
                  LIBS calculator LABELS sanitize)
