// Thread stacks.
#pragma once

#include <cstddef>

namespace zlu_base {

// The stack a worker thread gets unless it is told otherwise: 2 MiB.
inline constexpr std::size_t DEFAULT_STACK_SIZE = std::size_t{2} << 20;

}  // namespace zlu_base
