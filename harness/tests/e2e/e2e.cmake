# The demo test executable and the tests that run it as a child process.
add_executable(harness_demo_tests ${CMAKE_CURRENT_LIST_DIR}/demo_tests.cpp)
target_link_libraries(harness_demo_tests PRIVATE harness zlu_settings)
# Exported symbols give the backtrace of a failure its function names.
set_target_properties(harness_demo_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests
                                                    ENABLE_EXPORTS ON)

zlu_test(harness_e2e_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/child_process.cpp
          ${CMAKE_CURRENT_LIST_DIR}/run_report_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/command_line_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/console_output_test.cpp
  LIBS util)
target_compile_definitions(harness_e2e_tests PRIVATE HARNESS_DEMO_PATH="$<TARGET_FILE:harness_demo_tests>")
add_dependencies(harness_e2e_tests harness_demo_tests)
