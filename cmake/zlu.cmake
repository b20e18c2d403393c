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

# A first build for running the suite can leave out what only a debugger reads
# (failure backtraces name functions from the exported symbols, not from debug
# information) and share one precompiled copy of the common headers. Both keep
# the optimisation of the build type, so what the build does is unchanged.
option(ZLU_DEBUG_INFO "Compile with the debug information of the build type" ON)
option(ZLU_PRECOMPILED_HEADERS "Precompile the common headers once and use them in every library and executable" OFF)
if(NOT ZLU_DEBUG_INFO)
  add_compile_options(-g0)
endif()

if(ZLU_PRECOMPILED_HEADERS)
  # The precompiled headers are built with the flags every component has (the
  # project settings and fmt), so that each target can use the same copy.
  add_library(zlu_pch OBJECT ${CMAKE_CURRENT_LIST_DIR}/pch.cpp)
  target_link_libraries(zlu_pch PRIVATE zlu_settings fmt::fmt)
  target_precompile_headers(zlu_pch PRIVATE
    <fmt/format.h> <algorithm> <array> <chrono> <cstddef> <cstdint> <expected> <functional> <map>
    <memory> <optional> <span> <string> <string_view> <utility> <vector>)
endif()

# zlu_compiles_with_fmt(TARGET RESULT): whether TARGET compiles with fmt's
# usage requirements, linked directly or through the public links of a library.
function(zlu_compiles_with_fmt target result)
  get_target_property(libs ${target} LINK_LIBRARIES)
  set(seen "")
  set(${result} FALSE PARENT_SCOPE)
  while(libs)
    list(POP_FRONT libs lib)
    if(lib STREQUAL "fmt::fmt")
      set(${result} TRUE PARENT_SCOPE)
      return()
    endif()
    if(lib IN_LIST seen OR lib MATCHES "^\\$<" OR NOT TARGET ${lib})
      continue()
    endif()
    list(APPEND seen ${lib})
    get_target_property(public_libs ${lib} INTERFACE_LINK_LIBRARIES)
    if(public_libs)
      list(APPEND libs ${public_libs})
    endif()
  endwhile()
endfunction()

# zlu_use_precompiled_headers(DIR): lets every library and executable declared
# in DIR and below with the project settings use the shared precompiled
# headers. The compiler takes them only where the macros they saw agree, so:
# a target whose packages define feature macros (the terminal library's) gets a
# copy of its own; code built without fmt (the generated schema code), the project's
# tests and benchmarks, whose frameworks add flags of their own, and the fuzz
# target, built with other flags, compile without them.
function(zlu_use_precompiled_headers dir)
  if(NOT ZLU_PRECOMPILED_HEADERS)
    return()
  endif()
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(NOT type MATCHES "^(STATIC_LIBRARY|EXECUTABLE)$" OR target STREQUAL "zlu_package_fuzz")
      continue()
    endif()
    get_target_property(libs ${target} LINK_LIBRARIES)
    if(NOT "zlu_settings" IN_LIST libs OR "GTest::gtest" IN_LIST libs OR "benchmark::benchmark" IN_LIST libs)
      continue()
    endif()
    zlu_compiles_with_fmt(${target} with_fmt)
    if(NOT with_fmt)
      continue()
    endif()
    if("PkgConfig::TINFO" IN_LIST libs)
      get_target_property(headers zlu_pch PRECOMPILE_HEADERS)
      target_precompile_headers(${target} PRIVATE ${headers})
    else()
      target_precompile_headers(${target} REUSE_FROM zlu_pch)
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(subdir IN LISTS subdirs)
    zlu_use_precompiled_headers(${subdir})
  endforeach()
endfunction()
