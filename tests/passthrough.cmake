# zplpass as CUPS starts it: ZPL jobs (ours and hand-made) passed byte for
# byte, copies, PAGE lines, refusals and cancellation.
zpl_tests(passthrough_tests passthrough_test.cpp)
zpl_discover_tests(passthrough_tests)
