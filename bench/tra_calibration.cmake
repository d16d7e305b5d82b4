add_executable(bench_tra_calibration ${CMAKE_CURRENT_LIST_DIR}/tra_calibration_bench.cpp)
target_link_libraries(bench_tra_calibration PRIVATE zelostrel_calib benchmark::benchmark)
# The library case needs the test calibration library (built with the tests).
if(TARGET calib_add_one)
  add_dependencies(bench_tra_calibration calib_add_one)
  target_compile_definitions(bench_tra_calibration PRIVATE CALIB_ADD_ONE_PATH="$<TARGET_FILE:calib_add_one>")
endif()
