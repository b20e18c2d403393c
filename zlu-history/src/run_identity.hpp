// Who runs: the executable's build, the host and the batch task, as a run's
// row names them.
#pragma once

#include <string>

#include "zlu-base/src/build_id.hpp"
#include "zlu-base/src/environment.hpp"

namespace zlu_history {

// The running executable's build id (see zlu_base::executable_build_id).
using zlu_base::executable_build_id;

// The host the run's cards are on: in a Kubernetes pod the node (NODE_NAME,
// set from the pod's spec), else the system's host name.
std::string host_name(const zlu_base::EnvLookup& env);

// The batch task: "slurm:<array job>_<task>" (or "slurm:<job>" outside an
// array), "kubernetes:<pod>" in a pod, empty otherwise.
std::string batch_task(const zlu_base::EnvLookup& env);

}  // namespace zlu_history
