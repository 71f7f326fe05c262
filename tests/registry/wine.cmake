# Registers Windows test programs (<dir>/<name>.exe) that run under wine in a throw-away prefix:
# the fixture test registry_wine_prefix makes the prefix once per test run, and
# registry_wine_prefix_cleanup removes it again. All carry the label wine (ctest -LE wine).
function(kavelon_wine_tests wine dir)
  set(prefix ${CMAKE_CURRENT_BINARY_DIR}/wineprefix)
  set(script ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/wineprefix.sh)
  add_test(NAME registry_wine_prefix COMMAND sh ${script} setup)
  add_test(NAME registry_wine_prefix_cleanup COMMAND sh ${script} cleanup)
  set_tests_properties(registry_wine_prefix PROPERTIES FIXTURES_SETUP registry_wine)
  set_tests_properties(registry_wine_prefix_cleanup PROPERTIES FIXTURES_CLEANUP registry_wine)
  set(tests registry_wine_prefix registry_wine_prefix_cleanup)
  foreach(name ${ARGN})
    add_test(NAME ${name} COMMAND ${wine} ${dir}/${name}.exe)
    set_tests_properties(${name} PROPERTIES
      FIXTURES_REQUIRED registry_wine
      PASS_REGULAR_EXPRESSION "[0-9]+ passed, 0 failed")
    list(APPEND tests ${name})
  endforeach()
  set_tests_properties(${tests} PROPERTIES
    TIMEOUT 120
    LABELS wine
    ENVIRONMENT "WINEPREFIX=${prefix};WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml="
    ENVIRONMENT_MODIFICATION "DISPLAY=unset:")
endfunction()
