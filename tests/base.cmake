zelostrel_test(test_base SOURCES base_test.cpp DEPS zelostrel_core)
