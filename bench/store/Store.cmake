# Note store: saving, opening and filtering against raw SQLite.
add_executable(bench_store ${CMAKE_CURRENT_LIST_DIR}/StoreBench.cpp)
target_link_libraries(bench_store PRIVATE store platform_data benchmark::benchmark Qt6::Core PkgConfig::SQLITE3)
