# The Debian package: built by cpack once for the tests that need it, its
# contents and control fields checked, lintian run on it, and (as root)
# installed system-wide with apt, used through CUPS and purged. Not in the
# sanitizer build: the package ships the programs as built for use.
if(ZPL_SANITIZE OR NOT ZPL_DEB_FILE)
  return()
endif()

add_test(NAME package.build
         COMMAND ${CMAKE_CPACK_COMMAND} -G DEB --config "${PROJECT_BINARY_DIR}/CPackConfig.cmake")
set_tests_properties(package.build PROPERTIES
  WORKING_DIRECTORY "${PROJECT_BINARY_DIR}" FIXTURES_SETUP zpl_deb LABELS e2e TIMEOUT 600)

find_program(LINTIAN_EXECUTABLE lintian)
if(LINTIAN_EXECUTABLE)
  add_test(NAME package.lintian COMMAND ${LINTIAN_EXECUTABLE} --fail-on error "${ZPL_DEB_FILE}")
  set_tests_properties(package.lintian PROPERTIES FIXTURES_REQUIRED zpl_deb LABELS e2e TIMEOUT 600)
endif()

zpl_filter_tests(package_tests e2e/package_test.cpp)
# Where the package puts things, for the paths it is checked against.
if(IS_ABSOLUTE "${ZPL_PPD_INSTALL_DIR}")
  set(package_ppd_dir "${ZPL_PPD_INSTALL_DIR}")
else()
  set(package_ppd_dir "/usr/${ZPL_PPD_INSTALL_DIR}")
endif()
target_compile_definitions(package_tests PRIVATE
  DEB_FILE="${ZPL_DEB_FILE}"
  PROJECT_VERSION_TEXT="${PROJECT_VERSION}"
  CMAKE_COMMAND="${CMAKE_COMMAND}"
  BINARY_DIR="${PROJECT_BINARY_DIR}"
  SAMPLE_PDF="${PROJECT_SOURCE_DIR}/samples/shipping-label.pdf"
  FILTER_DIR="${ZPL_FILTER_DIR}"
  PACKAGE_PPD_DIR="${package_ppd_dir}"
  DOC_DIR="/usr/${CMAKE_INSTALL_DOCDIR}"
  LOG_PATH="${ZPL_LOG_PATH}"
  CUPS_SERVERBIN="${ZPL_CUPS_SERVERBIN}"
  CUPS_DATADIR="${ZPL_CUPS_DATADIR}"
  MIME_DIR="${ZPL_MIME_DIR}"
  ZPLPASS="$<TARGET_FILE:zplpass>")
add_dependencies(package_tests zplpass)
# The install case changes the system: nothing else runs beside it, and
# apt may wait for the package database first.
gtest_discover_tests(package_tests
  TEST_PREFIX package.
  PROPERTIES LABELS e2e TIMEOUT 900 RUN_SERIAL TRUE FIXTURES_REQUIRED zpl_deb
             SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
