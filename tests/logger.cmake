zelostrel_test(test_logger SOURCES logger_test.cpp DEPS zelostrel_framework)
