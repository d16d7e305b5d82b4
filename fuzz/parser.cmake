# The frame parser under hostile frames.
zelostrel_fuzz_target(fuzz_parser
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/parser_fuzz.cpp
          ${PROJECT_SOURCE_DIR}/link/frame_text.cpp
          ${PROJECT_SOURCE_DIR}/link/ostrel_parser.cpp
          ${PROJECT_SOURCE_DIR}/platform/number_text.cpp)
