# Its own program: it replaces the global operator new to count allocations.
zelostrel_test(test_cycle_allocation SOURCES cycle_allocation_test.cpp support/allocations.cpp DEPS zelostrel_core)
add_dependencies(test_cycle_allocation calib_add_one)
target_compile_definitions(test_cycle_allocation PRIVATE CALIB_ADD_ONE_PATH="$<TARGET_FILE:calib_add_one>")
