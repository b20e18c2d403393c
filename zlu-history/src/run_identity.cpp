#include "run_identity.hpp"

#include <elf.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstring>

#include <fmt/format.h>

namespace zlu_history {

namespace {

// The build-id note of the first object dl_iterate_phdr reports, which is the
// executable itself.
int find_build_id(dl_phdr_info* info, std::size_t, void* data) {
  auto& id = *static_cast<std::string*>(data);
  for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& header = info->dlpi_phdr[i];
    if (header.p_type != PT_NOTE) continue;
    const auto* at = reinterpret_cast<const unsigned char*>(info->dlpi_addr + header.p_vaddr);
    const auto* end = at + header.p_memsz;
    while (at + sizeof(ElfW(Nhdr)) <= end) {
      ElfW(Nhdr) note{};
      std::memcpy(&note, at, sizeof note);
      const auto* name = at + sizeof note;
      const auto* desc = name + ((note.n_namesz + 3) & ~3u);
      const auto* next = desc + ((note.n_descsz + 3) & ~3u);
      if (next > end) break;
      if (note.n_type == NT_GNU_BUILD_ID && note.n_namesz == 4 && std::memcmp(name, "GNU", 4) == 0) {
        id = "gnu:";
        for (ElfW(Word) byte = 0; byte < note.n_descsz; ++byte) id += fmt::format("{:02x}", desc[byte]);
        return 1;
      }
      at = next;
    }
  }
  return 1;
}

std::string variable(const zlu_base::EnvLookup& env, std::string_view name) { return env(name).value_or(""); }

}  // namespace

std::string executable_build_id() {
  std::string id;
  dl_iterate_phdr(find_build_id, &id);
  if (!id.empty()) return id;
  struct stat status {};
  if (stat("/proc/self/exe", &status) != 0) return "unknown";
  return fmt::format("file:{}-{}", status.st_size,
                     static_cast<long long>(status.st_mtim.tv_sec) * 1'000'000'000LL + status.st_mtim.tv_nsec);
}

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
