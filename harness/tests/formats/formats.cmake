# The JSON and JUnit reports, checked with real parsers on the output of a
# demo test executable run as a child.
find_package(nlohmann_json REQUIRED)

add_executable(harness_formats_demo ${CMAKE_CURRENT_LIST_DIR}/formats_demo.cpp)
target_link_libraries(harness_formats_demo PRIVATE harness zlu_settings)
set_target_properties(harness_formats_demo PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)

zlu_test(harness_format_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/../e2e/child_process.cpp
          ${CMAKE_CURRENT_LIST_DIR}/report_support.cpp
          ${CMAKE_CURRENT_LIST_DIR}/xml_document.cpp
          ${CMAKE_CURRENT_LIST_DIR}/escape_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/events_file_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/json_report_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/junit_report_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/junit_schema_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/properties_report_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/runner_output_report_test.cpp
  LIBS harness nlohmann_json::nlohmann_json util)
target_include_directories(harness_format_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../e2e)
target_compile_definitions(harness_format_tests PRIVATE HARNESS_DEMO_PATH="$<TARGET_FILE:harness_formats_demo>"
                                                         JUNIT_SCHEMA_PATH="${ZLU_JUNIT_SCHEMA}")
add_dependencies(harness_format_tests harness_formats_demo)
