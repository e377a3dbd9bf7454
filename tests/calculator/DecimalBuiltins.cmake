quillary_add_test(NAME calculator_decimal_builtins_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/DecimalBuiltinsTest.cpp
                  LIBS calculator LABELS sanitize)
