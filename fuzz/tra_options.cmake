# Option lines and their number readers under hostile text.
add_executable(fuzz_tra_options ${CMAKE_CURRENT_LIST_DIR}/tra_options_fuzz.cpp)
target_link_libraries(fuzz_tra_options PRIVATE zelostrel_calib)
target_compile_options(fuzz_tra_options PRIVATE -fsanitize=fuzzer,address,undefined)
target_link_options(fuzz_tra_options PRIVATE -fsanitize=fuzzer,address,undefined)
