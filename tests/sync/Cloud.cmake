# Sync through the cloud folder: import, export, newer-wins, reset and the
# manager's half against a stand-in manager core, each test with its own
# temporary cloud folder and profile; Python's plistlib plays the other machine.
quillary_add_test(NAME sync_cloud_test
  SOURCES CloudSyncTest.cpp
  LIBS sync platform_cloud
  LABELS sanitize slow
  TIMEOUT 300
  MAIN core)

# Two machines kept in step by Unison: each run of the driver is one machine.
add_executable(sync_cloud_driver CloudSyncDriver.cpp)
target_link_libraries(sync_cloud_driver PRIVATE sync platform_cloud test_support)
quillary_add_test(NAME sync_cloud_unison_test
  SOURCES CloudUnisonTest.cpp
  LIBS Qt6::Core
  TIMEOUT 300)
target_compile_definitions(sync_cloud_unison_test PRIVATE CLOUD_SYNC_DRIVER="$<TARGET_FILE:sync_cloud_driver>")
add_dependencies(sync_cloud_unison_test sync_cloud_driver)

# The half installed in the real sync manager.
quillary_add_test(NAME sync_cloud_manager_test
  SOURCES CloudManagerTest.cpp
  LIBS sync platform_cloud
  LABELS sanitize
  TIMEOUT 120
  MAIN core)
