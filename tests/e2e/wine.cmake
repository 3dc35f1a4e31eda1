# Tests of the Windows build: run under Wine, in a prefix inside the build tree.
set(TESSEL_WINE_ENV
    "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix" "WINEARCH=win32" "WINEDEBUG=-all"
    "WINEDLLOVERRIDES=mscoree,mshtml=")

# The first start of a fresh prefix takes a while; do it once, first.
add_test(NAME wine_prefix COMMAND wineboot -i)
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine ENVIRONMENT "${TESSEL_WINE_ENV}" TIMEOUT 600)

# The unit tests, compiled for 32-bit Windows.
add_test(NAME unit_tests_under_wine COMMAND tessel_tests WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
set_tests_properties(unit_tests_under_wine PROPERTIES FIXTURES_REQUIRED wine ENVIRONMENT "${TESSEL_WINE_ENV}"
                     TIMEOUT 900)

# The DLL itself: five undecorated exports, imports from KERNEL32 and msvcrt only.
add_test(NAME dll_exports_and_imports
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/e2e/check_dll.sh $<TARGET_FILE:tessel_spi> ${CMAKE_OBJDUMP})

# The host cases through tessel.exe and the real tessel.spi, compared with
# the native build's output.
if(TESSEL_NATIVE_BUILD_DIR)
  add_test(NAME cases_under_wine
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/e2e/run_cases.sh ${TESSEL_NATIVE_BUILD_DIR}/bin
                   ${CMAKE_CURRENT_BINARY_DIR}/cases ${CMAKE_BINARY_DIR}/bin)
  set_tests_properties(cases_under_wine PROPERTIES FIXTURES_REQUIRED wine ENVIRONMENT "${TESSEL_WINE_ENV}"
                       TIMEOUT 900)

  add_test(NAME stress_under_wine COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/e2e/stress.sh ${TESSEL_NATIVE_BUILD_DIR}/bin
                                          ${CMAKE_CURRENT_BINARY_DIR}/stress ${CMAKE_BINARY_DIR}/bin)
  set_tests_properties(stress_under_wine PROPERTIES FIXTURES_REQUIRED wine ENVIRONMENT "${TESSEL_WINE_ENV}"
                       TIMEOUT 900)

  # The colour conversions and their row functions, the only floating point
  # in the plug-in, give the same bytes in both builds.
  add_test(NAME arithmetic_matches_native
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/e2e/compare_arithmetic.sh ${TESSEL_NATIVE_BUILD_DIR}/bin
                   ${CMAKE_BINARY_DIR}/bin ${CMAKE_CURRENT_BINARY_DIR}/arithmetic)
  set_tests_properties(arithmetic_matches_native PROPERTIES FIXTURES_REQUIRED wine ENVIRONMENT "${TESSEL_WINE_ENV}"
                       TIMEOUT 900)
endif()
