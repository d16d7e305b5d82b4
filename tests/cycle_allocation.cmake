# Its own program: it replaces the global operator new to count allocations.
zelostrel_test(test_cycle_allocation SOURCES cycle_allocation_test.cpp DEPS zelostrel_core)
