# Cancelled jobs and output that can't be written: the filters run as
# processes, signalled at many moments while labels go out through a pipe.
zpl_filter_tests(cancel_tests cancel_test.cpp)
gtest_discover_tests(cancel_tests)
