# Hostile and broken input: refused pages, very long jobs, unusable PPD and
# log. The filters run as processes in folders of their own.
zpl_filter_tests(limits_tests limits_test.cpp)
gtest_discover_tests(limits_tests)
