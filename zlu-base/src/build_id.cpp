#include "zlu-base/src/build_id.hpp"

#include <elf.h>
#include <link.h>
#include <sys/stat.h>

#include <cstring>

#include <fmt/format.h>

namespace zlu_base {
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

}  // namespace zlu_base
