add_executable(bench_cycle ${CMAKE_CURRENT_LIST_DIR}/bench_cycle.cpp)
target_include_directories(bench_cycle PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(bench_cycle PRIVATE zelostrel_core benchmark::benchmark)
