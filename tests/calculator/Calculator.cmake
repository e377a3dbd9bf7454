# The expression calculator: string entry, operators, tokens, trees, evaluator.
quillary_add_test(NAME calculator_string_entry_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/StringEntryTest.cpp
  LIBS calculator LABELS sanitize)
quillary_add_test(NAME calculator_parts_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/OperatorTokenizerTest.cpp ${CMAKE_CURRENT_LIST_DIR}/ExpressionEvaluatorTest.cpp
  LIBS calculator LABELS sanitize)
quillary_add_test(NAME calculator_rewriter_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/RewriterTest.cpp
  LIBS calculator LABELS sanitize)
