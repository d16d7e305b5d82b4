add_executable(bench_parser ${CMAKE_CURRENT_LIST_DIR}/parser_bench.cpp)
target_link_libraries(bench_parser PRIVATE zelostrel_link benchmark::benchmark)
