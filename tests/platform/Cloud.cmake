# The cloud folder layer: identity token, container, moves, folder query and
# key-value file, each against temporary folders.
set(_cloud_test_sources CloudUbiquityTest.cpp CloudMetadataQueryTest.cpp CloudKeyValueStoreTest.cpp)
quillary_add_test(NAME platform_cloud_test
  SOURCES ${_cloud_test_sources}
  LIBS platform_cloud
  LABELS sanitize
  TIMEOUT 120
  MAIN core)
