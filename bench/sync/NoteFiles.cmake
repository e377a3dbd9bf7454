# Note files: writing and reading 10,000 of them, beside Python's plistlib
# doing the same.
add_executable(bench_notefiles ${CMAKE_CURRENT_LIST_DIR}/NoteFilesBench.cpp
  ${PROJECT_SOURCE_DIR}/sync/QVRSyncDocument.cpp ${PROJECT_SOURCE_DIR}/sync/QVRNoteDocument.cpp)
target_include_directories(bench_notefiles PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(bench_notefiles PRIVATE store platform_files platform_plist platform_core benchmark::benchmark Qt6::Core)
target_compile_definitions(bench_notefiles PRIVATE
  QUILLARY_NOTEFILES_PEER="${CMAKE_CURRENT_LIST_DIR}/NoteFilesPlistlib.py")
