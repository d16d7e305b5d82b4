# libFuzzer target for the frame parser. The parser's sources are compiled
# into it so that they carry the fuzzer's coverage instrumentation.
add_executable(fuzz_parser
  parser_fuzz.cpp
  ${PROJECT_SOURCE_DIR}/link/frame_text.cpp
  ${PROJECT_SOURCE_DIR}/link/ostrel_parser.cpp)
target_include_directories(fuzz_parser PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_options(fuzz_parser PRIVATE -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all)
target_link_options(fuzz_parser PRIVATE -fsanitize=fuzzer,address,undefined)
