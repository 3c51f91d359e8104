# Tests run in a Wine prefix that this build owns, with one persistent wineserver for the run.
# OVS_WINE_TESTS is off where the target's programs cannot run here (32-bit on a machine without
# 32-bit execution); the binaries are still built and checked.
option(OVS_WINE_TESTS "Run the Windows programs' tests under Wine" ON)

if(OVS_ARCH STREQUAL "i686")
  set(OVS_WINEARCH win32)
else()
  set(OVS_WINEARCH win64)
endif()
set(OVS_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(OVS_TOOLS ${CMAKE_SOURCE_DIR}/tools)
set(CMAKE_CROSSCOMPILING_EMULATOR ${OVS_TOOLS}/wine-run ${OVS_WINEPREFIX} ${OVS_WINEARCH})

# Environment of script tests: where the prefix and the binaries are.
set(OVS_TEST_ENV
  OVS_WINEPREFIX=${OVS_WINEPREFIX}
  OVS_WINEARCH=${OVS_WINEARCH}
  OVS_BIN=${CMAKE_BINARY_DIR}/bin
  OVS_SOURCE=${CMAKE_SOURCE_DIR}
  OVS_TOOLS=${OVS_TOOLS}
  PYTHONDONTWRITEBYTECODE=1
  PYTHONPATH=${CMAKE_SOURCE_DIR}/tools/python)

if(OVS_WINE_TESTS)
  add_test(NAME wine.prefix.up COMMAND ${OVS_TOOLS}/wine-prefix up ${OVS_WINEPREFIX} ${OVS_WINEARCH})
  add_test(NAME wine.prefix.down COMMAND ${OVS_TOOLS}/wine-prefix down ${OVS_WINEPREFIX} ${OVS_WINEARCH})
  set_tests_properties(wine.prefix.up PROPERTIES FIXTURES_SETUP wine)
  set_tests_properties(wine.prefix.down PROPERTIES FIXTURES_CLEANUP wine)
endif()

# ovs_wine_command_test(NAME default-timeout COMMAND... [ARGS...] [TIMEOUT s] [LOCKS lock...]):
# a test that needs the tree's Wine prefix. LOCKS names shared resources (registry, scm, display)
# so that tests using the same one never overlap.
function(ovs_wine_command_test name default_timeout)
  cmake_parse_arguments(T "" "TIMEOUT" "COMMAND;ARGS;LOCKS" ${ARGN})
  if(NOT OVS_WINE_TESTS)
    return()
  endif()
  add_test(NAME ${name} COMMAND ${T_COMMAND} ${T_ARGS})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT ${default_timeout})
  endif()
  # A program under Wine is ended a little before the test's time-out, so its output still shows.
  math(EXPR run_limit "${T_TIMEOUT} - 15")
  # Wine can end a program that crashed on another thread with exit code 0; its report is the sign.
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "${OVS_TEST_ENV};OVS_RUN_LIMIT=${run_limit}"
    FAIL_REGULAR_EXPRESSION "wine: Unhandled")
  if(T_LOCKS)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${T_LOCKS}")
  endif()
endfunction()

# ovs_wine_test(NAME target [ARGS...] [TIMEOUT s] [LOCKS lock...]): a test program run under Wine.
function(ovs_wine_test name target)
  ovs_wine_command_test(${name} 300 COMMAND ${target} ${ARGN})
endfunction()

# ovs_script_test(NAME script [ARGS...] [TIMEOUT s] [LOCKS lock...]): a Python test driving Wine
# from outside.
function(ovs_script_test name script)
  ovs_wine_command_test(${name} 600 COMMAND python3 ${script} ${ARGN})
endfunction()
