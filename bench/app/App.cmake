# The application: start-up to the first painted list beside a bare Qt list
# over the same store, search per keystroke, the central save and the store's
# insert beside raw SQLite, each over several runs.
add_executable(bench_app ${CMAKE_CURRENT_LIST_DIR}/AppBench.cpp)
target_link_libraries(bench_app PRIVATE app platform_predicate Qt6::Widgets PkgConfig::SQLITE3)
add_executable(bench_app_bare_window ${CMAKE_CURRENT_LIST_DIR}/BareWindow.cpp
                                     ${PROJECT_SOURCE_DIR}/app/window/FirstPaintReport.cpp)
target_include_directories(bench_app_bare_window PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(bench_app_bare_window PRIVATE Qt6::Widgets PkgConfig::SQLITE3)
add_dependencies(bench_app quillary bench_app_bare_window bench_store)
# The benchmark's own faults: a profile of its own, and the rows it reports.
if(QUILLARY_BUILD_TESTS)
  find_package(Python3 COMPONENTS Interpreter)
  add_test(NAME bench_app_profile_test
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/check_bench_app.py $<TARGET_FILE:bench_app>)
  set_tests_properties(bench_app_profile_test PROPERTIES TIMEOUT 900 LABELS slow)
endif()
# One very large note: shown, typed in, and the list repainted with it.
add_executable(bench_app_large_note ${CMAKE_CURRENT_LIST_DIR}/LargeNoteBench.cpp)
target_link_libraries(bench_app_large_note PRIVATE app Qt6::Widgets)
