# Filtering notes with the search's predicate, in memory and through SQLite.
add_executable(bench_predicate ${CMAKE_CURRENT_LIST_DIR}/PredicateBench.cpp)
target_link_libraries(bench_predicate PRIVATE platform_predicate PkgConfig::SQLITE3 benchmark::benchmark benchmark::benchmark_main)
