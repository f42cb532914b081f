# The fast packing against a plain reference loop, once per model so that
# Gray2Bytes is also checked with each program's own threshold.
foreach(model IN LISTS ZPL_MODELS)
  zpl_model_tests(pack_reference_${model} ${model} pack_reference_test.cpp)
  gtest_discover_tests(pack_reference_${model} TEST_PREFIX "${model}dpi.")
endforeach()

# The packing and halftoning checks with the vector paths compiled out, as
# on a machine without SSE2, so that the portable loops are tested here too.
add_executable(portable_tests
  pack_reference_test.cpp
  halftone_test.cpp
  ${PROJECT_SOURCE_DIR}/raster/pack.cpp
  ${PROJECT_SOURCE_DIR}/raster/halftone.cpp
  ${PROJECT_SOURCE_DIR}/common/log.cpp
  ${PROJECT_SOURCE_DIR}/filter/model.cpp)
target_include_directories(portable_tests PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(portable_tests PRIVATE ZPL_MODEL=300 ZPL_LOG_PATH="quilby.log")
target_compile_options(portable_tests PRIVATE -U__SSE2__)
target_link_libraries(portable_tests PRIVATE Cups::Cups GTest::gtest_main)
gtest_discover_tests(portable_tests TEST_PREFIX "portable.")
