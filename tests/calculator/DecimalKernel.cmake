# The 256-bit integer kernel of the decimal type, against Python's integers.
quillary_add_test(NAME calculator_decimal_kernel_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/DecimalKernelTest.cpp
                  LIBS calculator LABELS sanitize)
