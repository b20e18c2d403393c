// The contract between the suite and the runners it starts: the runners'
// executable names, the environment variables through which the suite
// configures a runner, and the exit codes by which a runner says how it
// ended. Both sides name these only through this header, so that neither can
// rename one and leave the other behind. It depends on nothing, so that the
// runners stay independent of the suite.
//
// The names are character arrays so that they convert to a std::string as
// readily as to a std::string_view.
#pragma once

namespace zlu_contract {

// The five runner executables, found in the suite's runner folder.
inline constexpr char GRAPH_RUNNER[] = "zlu-hardware-e2e";
inline constexpr char HOST_RUNNER[] = "zlu-host-e2e";
inline constexpr char RANDOMIZED_RUNNER[] = "zlu-randomized-e2e";
inline constexpr char GEMM_RUNNER[] = "zlu-gemm-e2e";
inline constexpr char ATTENTION_RUNNER[] = "zlu-attention-f16-e2e";

// Every runner: the card it drives (unset when the host has one card) and the
// deliberate misbehaviour the runner's own tests ask of it.
inline constexpr char CARD_ID[] = "ZLU_CARD_ID";
inline constexpr char SIM_FAULT[] = "ZLU_SIM_FAULT";
// Defects of the model card, each on the card of one number, so that a host
// of model cards can have one that breaks like a real card.
inline constexpr char SIM_CARD_FAULT[] = "ZLU_SIM_CARD_FAULT";
// The delay before each host write: its bound in microseconds and the seed
// of the delays.
inline constexpr char HOST_WRITE_JITTER_MAX_US[] = "ZLU_HOST_WRITE_JITTER_MAX_US";
inline constexpr char HOST_WRITE_JITTER_SEED[] = "ZLU_HOST_WRITE_JITTER_SEED";

// The graph runner: which scenario to run.
inline constexpr char GRAPH_TEST[] = "ZLU_GRAPH_TEST";

// The host exchange runner: where the data lies and how it travels.
inline constexpr char HOST_TEST_TILE[] = "ZLU_HOST_TEST_TILE";
inline constexpr char HOST_TEST_TILES[] = "ZLU_HOST_TEST_TILES";
inline constexpr char HOST_TEST_BYTES[] = "ZLU_HOST_TEST_BYTES";
inline constexpr char HOST_TEST_ADDRESS[] = "ZLU_HOST_TEST_ADDRESS";
inline constexpr char HOST_TEST_INVOCATIONS[] = "ZLU_HOST_TEST_INVOCATIONS";
inline constexpr char HOST_TEST_RESIDENT_INPUT[] = "ZLU_HOST_TEST_RESIDENT_INPUT";
inline constexpr char HOST_TEST_D2H_ONLY[] = "ZLU_HOST_TEST_D2H_ONLY";
inline constexpr char HOST_TEST_COMPUTE_RELAY[] = "ZLU_HOST_TEST_COMPUTE_RELAY";
inline constexpr char HOST_TEST_REMOTE_D2H[] = "ZLU_HOST_TEST_REMOTE_D2H";
inline constexpr char HOST_TEST_EXCHANGE[] = "ZLU_HOST_TEST_EXCHANGE";
inline constexpr char HOST_TEST_INITIALIZED_EXCHANGE[] = "ZLU_HOST_TEST_INITIALIZED_EXCHANGE";

// The randomized runner: the seed that chooses its graph.
inline constexpr char RANDOM_SEED[] = "ZLU_RANDOM_SEED";

// The GEMM runner: the matrices' size, the block whose SRAM it checks, and
// the file its profile goes to.
inline constexpr char GEMM_DIMENSION[] = "ZLU_GEMM_DIMENSION";
inline constexpr char GEMM_SRAM_CHECK_BLOCK[] = "ZLU_GEMM_SRAM_CHECK_BLOCK";
inline constexpr char PROFILE_OUTPUT[] = "ZLU_PROFILE_OUTPUT";

enum class ExitCode : int {
  // How a runner ends. Any other ending (another code, a signal) is a fault
  // of the runner itself.

  Ok = 0,             // ran, every check held; one summary line on stdout
  CheckFailed = 1,    // ran, a check failed; one line on stderr
  ConfigInvalid = 2,  // configuration invalid; one line on stderr
};

}  // namespace zlu_contract
