# Option lines and their number readers under hostile text.
add_executable(fuzz_tra_options ${CMAKE_CURRENT_LIST_DIR}/tra_options_fuzz.cpp)
target_link_libraries(fuzz_tra_options PRIVATE zelostrel_calib)
target_compile_options(fuzz_tra_options PRIVATE -fsanitize=fuzzer,address,undefined)
target_link_options(fuzz_tra_options PRIVATE -fsanitize=fuzzer,address,undefined)
# Instrument the code under test too, so that coverage guides the search and
# the sanitizers see its memory accesses.
target_compile_options(zelostrel_calib PRIVATE -fsanitize=fuzzer-no-link,address,undefined)
