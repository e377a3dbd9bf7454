quillary_add_test(NAME store_datastore_test
  SOURCES DataStoreTest.cpp NoteTest.cpp
  LIBS store Qt6::Core
  LABELS sanitize tsan MAIN core)

add_executable(store_crash_writer StoreCrashWriter.cpp)
target_link_libraries(store_crash_writer PRIVATE store Qt6::Core)
quillary_add_test(NAME store_crash_test
  SOURCES StoreCrashTest.cpp
  LIBS store Qt6::Core
  LABELS sanitize tsan slow
  TIMEOUT 900
  ENV QUILLARY_CRASH_WRITER=$<TARGET_FILE:store_crash_writer>)
add_dependencies(store_crash_test store_crash_writer)

add_executable(store_concurrent_writer StoreConcurrentWriter.cpp)
target_link_libraries(store_concurrent_writer PRIVATE store Qt6::Core)
quillary_add_test(NAME store_writers_test
  SOURCES StoreWritersTest.cpp
  LIBS store Qt6::Core
  LABELS sanitize
  TIMEOUT 300
  ENV QUILLARY_CONCURRENT_WRITER=$<TARGET_FILE:store_concurrent_writer>)
add_dependencies(store_writers_test store_concurrent_writer)
