# Cancelled jobs and output that can't be written: the filters and zplpass
# run as processes, signalled at many moments while labels go out through a
# pipe, or writing where nothing can be written.
zpl_tests(cancel_tests cancel_test.cpp)
zpl_discover_tests(cancel_tests)
