# Cloud folder: importing and exporting 10,000 note files.
# The wait helper of the tests, built here too: benchmarks build without the tests.
add_executable(bench_cloud_sync ${CMAKE_CURRENT_LIST_DIR}/CloudSyncBench.cpp ${PROJECT_SOURCE_DIR}/tests/support/Wait.cpp)
target_include_directories(bench_cloud_sync PRIVATE ${PROJECT_SOURCE_DIR}/tests/sync)
target_link_libraries(bench_cloud_sync PRIVATE sync platform_cloud benchmark::benchmark Qt6::Core)
