zelostrel_test(test_zelostrel SOURCES zelostrel_test.cpp DEPS zelostrel_core)
