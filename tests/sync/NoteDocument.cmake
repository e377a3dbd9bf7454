find_package(Python3 COMPONENTS Interpreter)
quillary_add_test(NAME sync_note_document_test
  SOURCES NoteDocumentTest.cpp
  LIBS sync test_support
  LABELS sanitize
  ENV QUILLARY_PYTHON=${Python3_EXECUTABLE})
