#include "run_identity.hpp"

#include <unistd.h>

#include <array>

#include <fmt/format.h>

namespace zlu_history {

namespace {

std::string variable(const zlu_base::EnvLookup& env, std::string_view name) { return env(name).value_or(""); }

}  // namespace

std::string host_name(const zlu_base::EnvLookup& env) {
  if (!variable(env, "KUBERNETES_SERVICE_HOST").empty()) {
    if (auto node = variable(env, "NODE_NAME"); !node.empty()) return node;
  }
  std::array<char, 256> name{};
  if (gethostname(name.data(), name.size() - 1) != 0) return "unknown";
  return name.data();
}

std::string batch_task(const zlu_base::EnvLookup& env) {
  const auto array_job = variable(env, "SLURM_ARRAY_JOB_ID");
  const auto array_task = variable(env, "SLURM_ARRAY_TASK_ID");
  if (!array_job.empty() && !array_task.empty()) return fmt::format("slurm:{}_{}", array_job, array_task);
  if (auto job = variable(env, "SLURM_JOB_ID"); !job.empty()) return "slurm:" + job;
  if (!variable(env, "KUBERNETES_SERVICE_HOST").empty()) {
    if (auto pod = variable(env, "HOSTNAME"); !pod.empty()) return "kubernetes:" + pod;
  }
  return {};
}

}  // namespace zlu_history
