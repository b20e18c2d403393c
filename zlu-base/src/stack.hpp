// Thread stacks.
#pragma once

#include <cstddef>

namespace zlu_base {

// The stack a worker thread gets unless it is told otherwise: 2 MiB.
inline constexpr std::size_t DEFAULT_STACK_SIZE = std::size_t{2} << 20;

// The least stack a worker thread gets, whatever it is told: 256 KiB. Reading
// a cycle profile and unwinding a failure through a test body take about
// 28 KiB on an optimised build, more than the least stack a thread may have
// (16 KiB here); the rest is room for sanitized builds and deeper bodies.
inline constexpr std::size_t LEAST_STACK_SIZE = std::size_t{256} << 10;

}  // namespace zlu_base
