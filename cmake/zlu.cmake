# Project-wide compile settings, applied to every target through zlu_settings.
add_library(zlu_settings INTERFACE)
target_compile_options(zlu_settings INTERFACE -Wall -Wextra -Wpedantic
  # Source locations in failure reports name files relative to the project root.
  -fmacro-prefix-map=${CMAKE_SOURCE_DIR}/=)
if(ZLU_WERROR)
  target_compile_options(zlu_settings INTERFACE -Werror)
endif()
if(ZLU_SANITIZE)
  target_compile_options(zlu_settings INTERFACE -fsanitize=${ZLU_SANITIZE} -fno-omit-frame-pointer)
  target_link_options(zlu_settings INTERFACE -fsanitize=${ZLU_SANITIZE})
endif()

# zlu_test(NAME SOURCES... LIBS ...): a GoogleTest executable registered with
# CTest. Without ZLU_BUILD_TESTS the target is still declared, so that what the
# component's list says about it holds, but it is left out of every build.
function(zlu_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT ZLU_BUILD_TESTS)
    add_executable(${name} EXCLUDE_FROM_ALL ${ARG_SOURCES})
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(${name} PRIVATE zlu_settings GTest::gtest GTest::gtest_main ${ARG_LIBS})
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
endfunction()
