quillary_add_test(NAME calculator_decimal_math SOURCES ${CMAKE_CURRENT_LIST_DIR}/DecimalMathTest.cpp
                  LIBS calculator LABELS sanitize)
