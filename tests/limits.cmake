# Hostile and broken input: refused pages, very long jobs, unusable PPD and
# log. The filters run as processes in folders of their own.
zpl_tests(limits_tests limits_test.cpp)
zpl_discover_tests(limits_tests)
