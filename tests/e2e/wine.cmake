# Tests of the Windows build. Every Windows program runs through
# scripts/wine.sh (the cross-compiling emulator), by the route that
# scripts/setup.sh prepared: plain Wine, or Wine whose 32-bit side runs in
# qemu-i386 where the kernel runs no 32-bit code.
set(TESSEL_WINE ${PROJECT_SOURCE_DIR}/scripts/wine.sh)

# Says which route runs, and that it runs a Windows program at all.
add_test(NAME wine_route COMMAND ${TESSEL_WINE} check)
set_tests_properties(wine_route PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)

# The unit tests, compiled for 32-bit Windows.
add_test(NAME unit_tests_under_wine COMMAND tessel_tests WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
set_tests_properties(unit_tests_under_wine PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 1800)

# The DLL itself: five undecorated exports, imports from KERNEL32 and msvcrt only.
add_test(NAME dll_exports_and_imports
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/e2e/check_dll.sh $<TARGET_FILE:tessel_spi> ${CMAKE_OBJDUMP})

# The host cases through the test driver and the real tessel.spi, compared
# with the native build's output.
if(TESSEL_NATIVE_BUILD_DIR)
  add_test(NAME cases_under_wine
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/e2e/run_cases.sh ${TESSEL_NATIVE_BUILD_DIR}/bin
                   ${CMAKE_CURRENT_BINARY_DIR}/cases ${CMAKE_BINARY_DIR}/bin ${TESSEL_WINE})
  set_tests_properties(cases_under_wine PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 900)

  add_test(NAME stress_under_wine
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/e2e/stress.sh ${TESSEL_NATIVE_BUILD_DIR}/bin
                   ${CMAKE_CURRENT_BINARY_DIR}/stress ${CMAKE_BINARY_DIR}/bin ${TESSEL_WINE})
  set_tests_properties(stress_under_wine PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 900)

  # The settings file beside the plug-in: the plug-in's own answers without
  # it, every version GIMP saves with versions=all, the big documents of
  # versions 11 and 12 in the 32-bit process.
  add_test(NAME settings_under_wine
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/e2e/settings.sh ${TESSEL_NATIVE_BUILD_DIR}/bin
                   ${CMAKE_CURRENT_BINARY_DIR}/settings ${CMAKE_BINARY_DIR}/bin ${TESSEL_WINE})
  set_tests_properties(settings_under_wine PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 1800)

  # The colour conversions and their row functions, the only floating point
  # in the plug-in, give the same bytes in both builds.
  add_test(NAME arithmetic_matches_native
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/e2e/compare_arithmetic.sh ${TESSEL_NATIVE_BUILD_DIR}/bin
                   ${CMAKE_BINARY_DIR}/bin ${CMAKE_CURRENT_BINARY_DIR}/arithmetic ${TESSEL_WINE})
  set_tests_properties(arithmetic_matches_native PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 900)
endif()
