quillary_add_test(NAME calculator_decimal_math_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/DecimalMathTest.cpp
                  LIBS calculator LABELS sanitize)
