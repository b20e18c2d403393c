# The launch path: the harness running the 19 fixed tests against a runner
# that exits at once, beside bare spawns of the same runner.
add_executable(hardware_e2e_launch_bench bench/launch_bench.cpp src/launch/runner_dir.cpp)
target_compile_definitions(hardware_e2e_launch_bench PRIVATE ZLU_RUNNER_DIR_PATH="${CMAKE_BINARY_DIR}/standin-runners")
target_link_libraries(hardware_e2e_launch_bench PRIVATE hardware_e2e_catalogue zlu_settings)
add_dependencies(hardware_e2e_launch_bench hardware_e2e_standin_runner)
# The suite against slow stand-in runners on pools of one, two and four cards.
add_executable(hardware_e2e_cards_bench bench/cards_bench.cpp)
target_compile_definitions(hardware_e2e_cards_bench PRIVATE STANDIN_SUITE="$<TARGET_FILE:hardware_e2e_standin>")
target_link_libraries(hardware_e2e_cards_bench PRIVATE fmt::fmt zlu_settings)
add_dependencies(hardware_e2e_cards_bench hardware_e2e_standin)
# The suite on the model with four good cards against one bad card of four.
add_executable(hardware_e2e_health_bench bench/health_bench.cpp)
target_compile_definitions(hardware_e2e_health_bench PRIVATE MODEL_SUITE="$<TARGET_FILE:hardware_e2e>")
target_link_libraries(hardware_e2e_health_bench PRIVATE fmt::fmt zlu_settings)
add_dependencies(hardware_e2e_health_bench hardware_e2e)
# What the cycle gate costs: the suite on the card model with and without it,
# and one profile's writing, reading and summarising.
add_executable(hardware_e2e_cycles_bench bench/cycles_bench.cpp src/launch/runner_dir.cpp)
target_compile_definitions(hardware_e2e_cycles_bench PRIVATE ZLU_RUNNER_DIR_PATH="${ZLU_RUNNER_DIR}"
                                                             ZLU_CARD_KIND="card model")
target_link_libraries(hardware_e2e_cycles_bench PRIVATE hardware_e2e_launch zlu_settings)
add_dependencies(hardware_e2e_cycles_bench hardware_e2e zlu-hardware-e2e zlu-host-e2e zlu-randomized-e2e zlu-gemm-e2e
                 zlu-attention-f16-e2e)
# The run history: a run with and without a store, and the longest-first
# order against table order, on a table of stand-in tests.
add_executable(hardware_e2e_history_bench bench/history_bench.cpp)
target_compile_definitions(hardware_e2e_history_bench PRIVATE
  STANDIN_RUNNER="${CMAKE_BINARY_DIR}/standin-runners/zlu-hardware-e2e")
target_link_libraries(hardware_e2e_history_bench PRIVATE hardware_e2e_history harness fmt::fmt zlu_settings)
add_dependencies(hardware_e2e_history_bench hardware_e2e_standin_runner)
