zelostrel_test(test_ostrelsim SOURCES ostrelsim_test.cpp DEPS ostrelsim_core zelostrel_link)
target_compile_definitions(test_ostrelsim PRIVATE OSTRELSIM_PATH="$<TARGET_FILE:ostrelsim>")
add_dependencies(test_ostrelsim ostrelsim)
