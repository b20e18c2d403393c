# The harness's own cost per test.
add_executable(harness_bench ${CMAKE_CURRENT_LIST_DIR}/run_bench.cpp)
target_link_libraries(harness_bench PRIVATE harness zlu_settings benchmark::benchmark)
