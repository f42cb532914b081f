# zplpass as CUPS starts it: ZPL jobs (ours and hand-made) passed byte for
# byte, copies, PAGE lines, refusals, cancellation and failed output.
zpl_filter_tests(passthrough_tests passthrough_test.cpp zpl_samples.cpp)
target_compile_definitions(passthrough_tests PRIVATE
  ZPLPASS="$<TARGET_FILE:zplpass>"
  SAMPLE_PDF="${PROJECT_SOURCE_DIR}/samples/shipping-label.pdf")
add_dependencies(passthrough_tests zplpass)
gtest_discover_tests(passthrough_tests)
