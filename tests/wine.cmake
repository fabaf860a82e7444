# The black-box tests against a Windows velmorane.exe, run under Wine in a
# prefix of this tree. One wineserver stays up for the whole test run, so
# each case starts its programs in a fraction of a second.
find_program(WINE wine REQUIRED)
find_program(WINESERVER wineserver REQUIRED)
set(wine_prefix ${CMAKE_CURRENT_BINARY_DIR}/wineprefix)
configure_file(support/wine.sh.in wine.sh @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
  GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(wine_launcher ${CMAKE_CURRENT_BINARY_DIR}/wine.sh)

target_compile_definitions(cli_tests PRIVATE VELMORANE_EXE="${VELMORANE_WINDOWS_EXE}" VELMORANE_WINDOWS=1
  VELMORANE_LAUNCHER="${wine_launcher}" VELMORANE_WINDOWS_HELPERS="${VELMORANE_WINDOWS_HELPERS}")

add_test(NAME wine_start COMMAND ${wine_launcher} --start)
add_test(NAME wine_stop COMMAND ${wine_launcher} --stop)
set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine)
set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine)
# A case that hangs under Wine fails instead of holding up the run.
gtest_discover_tests(cli_tests DISCOVERY_TIMEOUT 60 PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 120)
