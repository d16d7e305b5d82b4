zelostrel_test(test_client SOURCES client_test.cpp DEPS zelostrel_link)
