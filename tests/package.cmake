# The Debian package: built by cpack once for the tests that need it, its
# contents and control fields checked, lintian run on it, and (as root)
# installed system-wide with apt, used through CUPS and purged.
if(ZPL_SANITIZE)
  zpl_test_group_omitted(package "it ships the programs as built for use, not their sanitizer build")
  return()
endif()
zpl_find_tools(package have_dpkg dpkg-deb dpkg-shlibdeps apt-get)
if(NOT have_dpkg)
  return()
endif()

add_test(NAME package.build
         COMMAND ${CMAKE_CPACK_COMMAND} -G DEB --config "${PROJECT_BINARY_DIR}/CPackConfig.cmake")
set_tests_properties(package.build PROPERTIES
  WORKING_DIRECTORY "${PROJECT_BINARY_DIR}" FIXTURES_SETUP zpl_deb LABELS e2e TIMEOUT 600)

zpl_find_tools(package.lintian have_lintian lintian)
if(have_lintian)
  add_test(NAME package.lintian COMMAND ${ZPL_TOOL_lintian} --fail-on error "${ZPL_DEB_FILE}")
  set_tests_properties(package.lintian PROPERTIES FIXTURES_REQUIRED zpl_deb LABELS e2e TIMEOUT 600)
endif()

zpl_tests(package_tests e2e/package_test.cpp)
target_compile_definitions(package_tests PRIVATE
  DEB_FILE="${ZPL_DEB_FILE}"
  PROJECT_VERSION_TEXT="${PROJECT_VERSION}"
  DOC_DIR="/usr/${CMAKE_INSTALL_DOCDIR}"
  LOG_PATH="${ZPL_LOG_PATH}"
  CUPS_SERVERBIN="${ZPL_CUPS_SERVERBIN}"
  CUPS_DATADIR="${ZPL_CUPS_DATADIR}")
# The install case changes the system; apt may wait for the package
# database first.
zpl_discover_tests(package_tests PREFIX package. E2E PROPERTIES TIMEOUT 900 FIXTURES_REQUIRED zpl_deb)

# The upgrade from 1.0.0 over a queue made with it, in a mount namespace of
# its own with a private cupsd (as root; see the script).
zpl_find_tools(package.upgrade have_upgrade_tools unshare mount cupsd lpadmin lp lpstat)
if(have_upgrade_tools)
  zpl_e2e_script(package.upgrade
    COMMAND bash "${CMAKE_CURRENT_SOURCE_DIR}/e2e/package_upgrade.sh" "${ZPL_DEB_FILE}"
            "${CMAKE_CURRENT_SOURCE_DIR}/e2e/zplfilter-1.0.0.drv" "${PPDC_EXECUTABLE}"
            "${PROJECT_SOURCE_DIR}/samples/shipping-label.pdf"
    PROPERTIES TIMEOUT 900 FIXTURES_REQUIRED zpl_deb)
endif()
