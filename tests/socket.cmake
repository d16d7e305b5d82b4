zelostrel_test(test_socket SOURCES socket_test.cpp DEPS zelostrel_link)
