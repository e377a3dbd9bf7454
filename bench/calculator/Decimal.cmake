# The decimal type and its routines beside Boost.Multiprecision (header-only).
find_package(Boost QUIET)
if(Boost_FOUND)
  add_executable(bench_calculator_decimal ${CMAKE_CURRENT_LIST_DIR}/DecimalBench.cpp)
  target_link_libraries(bench_calculator_decimal PRIVATE calculator benchmark::benchmark benchmark::benchmark_main
                        Boost::headers)
endif()
