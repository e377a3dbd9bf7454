# Web sync against the loopback fake service: a first full sync of 10,000
# notes (download and upload) and an incremental sync of 100 changed notes.
find_package(ZLIB REQUIRED)
add_executable(bench_websync ${CMAKE_CURRENT_LIST_DIR}/WebSyncBench.cpp)
target_include_directories(bench_websync PRIVATE ${PROJECT_SOURCE_DIR}/tests/sync)
target_link_libraries(bench_websync PRIVATE sync store platform_secret platform_ops benchmark::benchmark
  ZLIB::ZLIB Qt6::Core Qt6::Network)
