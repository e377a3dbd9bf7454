find_package(Python3 COMPONENTS Interpreter)
quillary_add_test(NAME NoteDocumentTest
  SOURCES NoteDocumentTest.cpp
  LIBS sync test_support
  LABELS sanitize
  ENV QUILLARY_PYTHON=${Python3_EXECUTABLE})
