#include "options/selection.hpp"

#include <algorithm>

#include "options/options.hpp"

namespace harness {
namespace {

bool matches_any(std::string_view name, const std::vector<std::string>& filters, bool exact) {
  return std::ranges::any_of(filters, [&](const std::string& filter) {
    return exact ? name == filter : name.find(filter) != std::string_view::npos;
  });
}

bool selected(const TestOpts& opts, const TestDesc& desc) {
  if (!opts.filters.empty() && !matches_any(desc.name, opts.filters, opts.filter_exact)) return false;
  if (matches_any(desc.name, opts.skip, opts.filter_exact)) return false;
  if (opts.exclude_should_panic && desc.should_panic.kind != ShouldPanicKind::No) return false;
  if (opts.run_ignored == RunIgnored::Only && !desc.ignore) return false;
  return true;
}

// Whether the test at `position` (from 0) among the selected ones belongs to
// the partition's slice.
bool in_slice(const Partition& partition, std::size_t position, std::string_view name) {
  const std::uint64_t slice =
      partition.kind == PartitionKind::Count ? position % partition.count : hash_slice(name, partition.count);
  return slice == partition.index - 1;
}

}  // namespace

Selection select_tests(const TestOpts& opts, std::span<const TestDescAndFn> tests) {
  Selection selection;
  std::size_t position = 0;
  for (const TestDescAndFn& test : tests) {
    if (!selected(opts, test.desc)) continue;
    if (opts.partition && !in_slice(*opts.partition, position++, test.desc.name)) continue;
    TestDescAndFn kept = test;
    if (opts.run_ignored != RunIgnored::No) kept.desc.ignore = false;
    if (!opts.run_tests) kept.desc.ignore = true;
    selection.tests.push_back(kept);
  }
  selection.filtered_out = tests.size() - selection.tests.size();
  return selection;
}

}  // namespace harness
