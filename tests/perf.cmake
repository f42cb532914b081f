# The fast packing against a plain reference loop, once per model so that
# Gray2Bytes is also checked with each program's own threshold.
foreach(model IN LISTS ZPL_MODELS)
  zpl_model_tests(pack_reference_${model} ${model} pack_reference_test.cpp)
  gtest_discover_tests(pack_reference_${model} TEST_PREFIX "${model}dpi.")
endforeach()

# The same checks with the vector path compiled out, as on a machine
# without SSE2, so that the portable loop is tested here too.
add_executable(pack_reference_portable
  pack_reference_test.cpp
  ${PROJECT_SOURCE_DIR}/raster/pack.cpp
  ${PROJECT_SOURCE_DIR}/common/log.cpp
  ${PROJECT_SOURCE_DIR}/filter/model.cpp)
target_include_directories(pack_reference_portable PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(pack_reference_portable PRIVATE ZPL_MODEL=300 ZPL_LOG_PATH="quilby.log")
target_compile_options(pack_reference_portable PRIVATE -U__SSE2__)
target_link_libraries(pack_reference_portable PRIVATE Cups::Cups GTest::gtest_main)
gtest_discover_tests(pack_reference_portable TEST_PREFIX "portable.")

# Halftoning with the vector path compiled out, against the same models.
add_executable(halftone_portable
  halftone_test.cpp
  ${PROJECT_SOURCE_DIR}/raster/halftone.cpp
  ${PROJECT_SOURCE_DIR}/raster/pack.cpp
  ${PROJECT_SOURCE_DIR}/common/log.cpp
  ${PROJECT_SOURCE_DIR}/filter/model.cpp)
target_include_directories(halftone_portable PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(halftone_portable PRIVATE ZPL_MODEL=300 ZPL_LOG_PATH="quilby.log")
target_compile_options(halftone_portable PRIVATE -U__SSE2__)
target_link_libraries(halftone_portable PRIVATE Cups::Cups GTest::gtest_main)
gtest_discover_tests(halftone_portable TEST_PREFIX "portable.")
