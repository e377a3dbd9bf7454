# The note-file classes are compiled into the test itself, so these tests do
# not wait for the rest of the sync library.
set(_note_document_sources
  ${PROJECT_SOURCE_DIR}/sync/QVRSyncDocument.cpp
  ${PROJECT_SOURCE_DIR}/sync/QVRNoteDocument.cpp)
find_package(Python3 COMPONENTS Interpreter)
quillary_add_test(NAME NoteDocumentTest
  SOURCES NoteDocumentTest.cpp ${_note_document_sources}
  LIBS platform_files platform_plist platform_core Qt6::Core test_support
  LABELS sanitize
  ENV QUILLARY_PYTHON=${Python3_EXECUTABLE})
target_include_directories(NoteDocumentTest PRIVATE ${PROJECT_SOURCE_DIR})
