# Helpers every test area may link: rasters, processes, label decoding.
add_library(test_support STATIC
  support/raster_files.cpp
  support/process.cpp
  support/zpl_decode.cpp)
target_include_directories(test_support PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/support)
target_link_libraries(test_support PUBLIC GTest::gtest Cups::Cups ZLIB::ZLIB)
