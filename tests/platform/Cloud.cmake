# The cloud folder layer: identity token, container, moves, folder query and
# key-value file, each against temporary folders.
set(_cloud_test_sources CloudUbiquityTest.cpp CloudMetadataQueryTest.cpp CloudTestMain.cpp)
if(EXISTS ${PROJECT_SOURCE_DIR}/platform/plist/CMakeLists.txt)
  list(APPEND _cloud_test_sources CloudKeyValueStoreTest.cpp)
endif()
quillary_add_test(NAME platform_cloud_test
  SOURCES ${_cloud_test_sources}
  LIBS platform_cloud
  LABELS sanitize
  TIMEOUT 120
  NO_MAIN)
