# The portable core: static libraries of standard C++ only, built for each Windows tree and for
# this machine. The headers of cmake/no_windows come first on a core library's include path, so a
# core file that includes a Windows header stops the build.
set(OVS_NO_WINDOWS_DIR ${CMAKE_SOURCE_DIR}/cmake/no_windows)

# The sanitizers of the native tests. A library and the program it goes into must agree on them,
# so natively each core library is built once per sanitizer that a test asks for.
set(OVS_SANITIZE_address -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
set(OVS_SANITIZE_thread -fsanitize=thread -fno-omit-frame-pointer -g)
set(OVS_SANITIZE_none)
set(OVS_SANITIZE_fuzzer -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -g)

# ovs_core_library(NAME SOURCE...): sources relative to the calling folder, which is also the
# folder its users include from.
function(ovs_core_library name)
  set(sources)
  foreach(source ${ARGN})
    list(APPEND sources ${CMAKE_CURRENT_SOURCE_DIR}/${source})
  endforeach()
  set_property(GLOBAL PROPERTY OVS_CORE_SOURCES_${name} ${sources})
  set_property(GLOBAL PROPERTY OVS_CORE_DIR_${name} ${CMAKE_CURRENT_SOURCE_DIR})
  if(WIN32)
    ovs_core_variant(${name} "" variant)
    ovs_core_refuses_windows(${name})
  endif()
endfunction()

# The target of core library NAME built with SANITIZER (empty: the Windows tree's own), made on
# first use; its name goes to OUT.
function(ovs_core_variant name sanitizer out)
  set(target ${name})
  if(NOT sanitizer STREQUAL "")
    set(target ${name}.${sanitizer})
  endif()
  if(NOT TARGET ${target})
    get_property(sources GLOBAL PROPERTY OVS_CORE_SOURCES_${name})
    get_property(dir GLOBAL PROPERTY OVS_CORE_DIR_${name})
    add_library(${target} STATIC ${sources})
    target_include_directories(${target} BEFORE PRIVATE ${OVS_NO_WINDOWS_DIR})
    target_include_directories(${target} PUBLIC ${dir})
    target_compile_options(${target} PRIVATE -Wall -Wextra ${OVS_SANITIZE_${sanitizer}})
    find_package(Threads REQUIRED)
    target_link_libraries(${target} PUBLIC Threads::Threads)
  endif()
  set(${out} ${target} PARENT_SCOPE)
endfunction()

# ovs_native_test(TARGET TEST name SANITIZER address|thread|none [LIBRARIES core...]
#                 SOURCES file...): a test program for this machine, linked with the core
# libraries built with the same sanitizer, and its ctest entry.
function(ovs_native_test target)
  cmake_parse_arguments(arg "" "TEST;SANITIZER" "LIBRARIES;SOURCES" ${ARGN})
  set(flags ${OVS_SANITIZE_${arg_SANITIZER}})
  add_executable(${target} ${arg_SOURCES})
  foreach(library ${arg_LIBRARIES})
    ovs_core_variant(${library} ${arg_SANITIZER} variant)
    target_link_libraries(${target} PRIVATE ${variant})
  endforeach()
  target_compile_options(${target} PRIVATE -Wall -Wextra ${flags})
  target_link_options(${target} PRIVATE ${flags})
  target_link_libraries(${target} PRIVATE ovtest gtest_main)
  add_test(NAME ${arg_TEST} COMMAND ${target})
endfunction()

# A test that a core library's include path refuses a Windows header: a probe file that includes
# one, built with that path, must stop at cmake/no_windows.
function(ovs_core_refuses_windows name)
  set(probe ${CMAKE_CURRENT_BINARY_DIR}/${name}_windows_probe.cpp)
  file(WRITE ${probe} "#include <windows.h>\n")
  add_library(${name}_windows_probe OBJECT EXCLUDE_FROM_ALL ${probe})
  target_include_directories(${name}_windows_probe PRIVATE $<TARGET_PROPERTY:${name},INCLUDE_DIRECTORIES>)
  add_test(NAME core.${name}.no_windows
    COMMAND ${CMAKE_COMMAND} --build ${CMAKE_BINARY_DIR} --target ${name}_windows_probe)
  set_tests_properties(core.${name}.no_windows PROPERTIES
    PASS_REGULAR_EXPRESSION "a portable core file includes <windows.h>")
endfunction()
