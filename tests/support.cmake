# The shared harness every test program links: the model table, rasters,
# processes, label decoding and building, ZPL samples, a private cupsd, a
# private printer application and a virtual printer (see support/support.h).
add_library(test_support STATIC
  support/cups_env.cpp
  support/files.cpp
  support/models.cpp
  support/printer_app.cpp
  support/process.cpp
  support/raster_files.cpp
  support/samples.cpp
  support/virtual_printer.cpp
  support/zpl_build.cpp
  support/zpl_decode.cpp)
target_include_directories(test_support PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/support ${PROJECT_SOURCE_DIR}
                           PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/support)
target_link_libraries(test_support PUBLIC GTest::gtest Cups::Cups ZLIB::ZLIB)

# The model table's files: a row per model of ZPL_MODELS, joined in
# support/models.cpp to the profiles of common/profile.h.
set(model_rows "")
foreach(model IN LISTS ZPL_MODELS)
  string(APPEND model_rows "{${model}, \"$<TARGET_FILE:test-zplfilter-${model}>\", \"${ZPL_PPD_${model}}\"},\n")
  add_dependencies(test_support test-zplfilter-${model})
endforeach()
file(GENERATE OUTPUT "${CMAKE_CURRENT_BINARY_DIR}/support/model_files.inc" CONTENT "${model_rows}")

set(support_printer_app "")
set(support_test_printer_app "")
if(TARGET zpl-printer-app)
  set(support_printer_app "$<TARGET_FILE:zpl-printer-app>")
  set(support_test_printer_app "$<TARGET_FILE:test-zpl-printer-app>")
  add_dependencies(test_support zpl-printer-app test-zpl-printer-app)
endif()
target_compile_definitions(test_support PRIVATE
  ZPLPASS="$<TARGET_FILE:zplpass>"
  ZPLPREVIEW="$<TARGET_FILE:zplpreview>"
  ZPLCOMMAND="$<TARGET_FILE:zplcommand>"
  VIRTUAL_PRINTER="$<TARGET_FILE:zpl-virtual-printer>"
  PRINTER_APP="${support_printer_app}"
  TEST_PRINTER_APP="${support_test_printer_app}"
  SAMPLE_PDF="${PROJECT_SOURCE_DIR}/samples/shipping-label.pdf"
  SAMPLE_PS="${PROJECT_SOURCE_DIR}/samples/shipping-label.ps"
  MIME_SOURCE_DIR="${PROJECT_SOURCE_DIR}/passthrough"
  CMAKE_COMMAND="${CMAKE_COMMAND}"
  BINARY_DIR="${PROJECT_BINARY_DIR}"
  FILTER_DIR="${ZPL_FILTER_DIR}"
  MIME_DIR="${ZPL_MIME_DIR}"
  INSTALL_PREFIX="${CMAKE_INSTALL_PREFIX}"
  PPD_INSTALL_DIR="${ZPL_PPD_INSTALL_DIR}"
  LSAN_SUPPRESSIONS="${CMAKE_CURRENT_SOURCE_DIR}/support/lsan.supp"
  ASAN_SUPPRESSIONS="${CMAKE_CURRENT_SOURCE_DIR}/support/asan.supp")
add_dependencies(test_support zplpass zplpreview zplcommand zpl-virtual-printer zplfilter-ppds)
