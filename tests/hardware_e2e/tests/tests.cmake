# Tests of the suite itself: unit tests of its pieces, and end-to-end tests
# that run builds of the suite against a runner stand-in.
set(standin_dir ${CMAKE_BINARY_DIR}/standin)
set(standin_runner_dir ${CMAKE_BINARY_DIR}/standin-runners)
set(broken_runner_dir ${CMAKE_BINARY_DIR}/standin-broken-runners)
set(standin_runner_names zlu-hardware-e2e zlu-host-e2e zlu-randomized-e2e zlu-gemm-e2e zlu-attention-f16-e2e)

# One executable, installed under the five runner names.
add_executable(hardware_e2e_standin_runner tests/standin/standin_runner.cpp tests/standin/profile_writer.cpp)
target_link_libraries(hardware_e2e_standin_runner PRIVATE zlu_runner_contract zlu_profile_testing zlu_settings)
set_target_properties(hardware_e2e_standin_runner PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${standin_dir})
foreach(runner ${standin_runner_names})
  add_custom_command(TARGET hardware_e2e_standin_runner POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${standin_runner_dir}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:hardware_e2e_standin_runner> ${standin_runner_dir}/${runner})
endforeach()

# A runner folder where the host exchange runner is a plain file without
# execute permission and every other runner is missing.
file(MAKE_DIRECTORY ${broken_runner_dir})
file(WRITE ${broken_runner_dir}/zlu-host-e2e "not a program\n")
file(CHMOD ${broken_runner_dir}/zlu-host-e2e PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

hardware_e2e_executable(hardware_e2e_standin ${standin_runner_dir} ${standin_dir})
hardware_e2e_executable(hardware_e2e_broken ${broken_runner_dir} ${standin_dir})
add_dependencies(hardware_e2e_standin hardware_e2e_standin_runner)

zlu_test(hardware_e2e_unit_tests
  SOURCES
    tests/card_choice_test.cpp
    tests/card_reclaim_test.cpp
    tests/card_settings_test.cpp
    tests/quarantine_test.cpp
    tests/device_test.cpp
    tests/exit_status_test.cpp
    tests/gemm_profile_unit_test.cpp
    tests/history_plan_test.cpp
    tests/rng_test.cpp
    tests/runner_environment_test.cpp
    tests/output_pipe_test.cpp
    tests/runner_timeout_test.cpp
    tests/table_test.cpp
    src/launch/runner_dir.cpp
  LIBS hardware_e2e_catalogue hardware_e2e_history zlu_history_testing zlu_profile_testing)
target_include_directories(hardware_e2e_unit_tests PRIVATE ${PROJECT_SOURCE_DIR}/zlu-history/tests)
target_compile_definitions(hardware_e2e_unit_tests PRIVATE ZLU_RUNNER_DIR_PATH="${standin_runner_dir}")

zlu_test(hardware_e2e_standin_tests
  SOURCES
    tests/e2e/suite_process.cpp
    tests/e2e/runner_record.cpp
    tests/e2e/fixed_tests_test.cpp
    tests/e2e/launch_test.cpp
    tests/e2e/jitter_test.cpp
    tests/e2e/randomized_test.cpp
    tests/e2e/host_route_test.cpp
    tests/e2e/gemm_profile_test.cpp
    tests/e2e/lifetime_test.cpp
    tests/e2e/cards_test.cpp
    tests/e2e/timeline_test.cpp
    tests/e2e/retries_test.cpp
    tests/e2e/runner_output_test.cpp
    tests/e2e/hostile_files_test.cpp
    tests/e2e/cycle_gate_test.cpp
    tests/e2e/history_test.cpp
    ${PROJECT_SOURCE_DIR}/harness/tests/formats/xml_document.cpp
  LIBS fmt::fmt nlohmann_json::nlohmann_json zlu_history zlu_history_testing)
# The JUnit report is checked with the harness's own XML parser wrapper.
target_include_directories(hardware_e2e_standin_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/tests/e2e
                                                              ${PROJECT_SOURCE_DIR}/harness/tests/formats
                                                              ${PROJECT_SOURCE_DIR}/zlu-history/tests)
target_compile_definitions(hardware_e2e_standin_tests PRIVATE
  STANDIN_SUITE="$<TARGET_FILE:hardware_e2e_standin>"
  MODEL_SUITE="$<TARGET_FILE:hardware_e2e>"
  BROKEN_SUITE="$<TARGET_FILE:hardware_e2e_broken>"
  STANDIN_RUNNER_DIR="${standin_runner_dir}"
  JUNIT_SCHEMA_PATH="${ZLU_JUNIT_SCHEMA}"
  ZLU_PROFILE="$<TARGET_FILE:zlu-profile>"
  GEMM_RUNNER="$<TARGET_FILE:zlu-gemm-e2e>")
add_dependencies(hardware_e2e_standin_tests hardware_e2e_standin hardware_e2e_broken hardware_e2e_standin_runner
                 zlu-profile hardware_e2e zlu-hardware-e2e zlu-host-e2e zlu-randomized-e2e zlu-gemm-e2e
                 zlu-attention-f16-e2e)

# Card health and cycle trends against the suite built for the real runners on
# the model, and the companion tool that quarantines and releases cards and
# reads the history.
zlu_test(hardware_e2e_model_tests
  SOURCES
    tests/e2e/suite_process.cpp
    tests/e2e/runner_record.cpp
    tests/e2e/card_health_test.cpp
    tests/e2e/cycle_trend_test.cpp
  LIBS fmt::fmt nlohmann_json::nlohmann_json)
target_include_directories(hardware_e2e_model_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/tests/e2e)
target_compile_definitions(hardware_e2e_model_tests PRIVATE
  STANDIN_SUITE="$<TARGET_FILE:hardware_e2e_standin>"
  BROKEN_SUITE="$<TARGET_FILE:hardware_e2e_broken>"
  MODEL_SUITE="$<TARGET_FILE:hardware_e2e>"
  ZLU_E2E="$<TARGET_FILE:zlu-e2e>")
add_dependencies(hardware_e2e_model_tests hardware_e2e zlu-e2e zlu-hardware-e2e zlu-host-e2e zlu-randomized-e2e
                 zlu-gemm-e2e zlu-attention-f16-e2e)
