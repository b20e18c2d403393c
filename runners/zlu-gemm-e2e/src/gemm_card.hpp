// Running the blocked GEMM on the card model and checking what it produced.
#pragma once

#include "card.hpp"
#include "gemm_config.hpp"
#include "runner.hpp"

namespace zlu_gemm {

// Where a block tile keeps its blocks. Operand blocks of its own grid
// position stay where the host wrote them; the blocks of the current step
// arrive in the staging areas.
inline constexpr std::uint32_t A_HOME = 0x0000;
inline constexpr std::uint32_t B_HOME = A_HOME + BLOCK_BYTES;
inline constexpr std::uint32_t A_STAGE = B_HOME + BLOCK_BYTES;
inline constexpr std::uint32_t B_STAGE = A_STAGE + BLOCK_BYTES;
inline constexpr std::uint32_t C_BLOCK = B_STAGE + BLOCK_BYTES;

// Runs C = A·B on `card`: the host loads A(r,c) and B(r,c) onto block tile
// (r,c), waiting the jitter delay before each write; for each k an exchange
// phase multicasts A(i,k) along block row i and B(k,j) down block column j,
// and a compute phase has every block tile add A(i,k)·B(k,j) to its C block.
// Then every C block is read back and compared with the host reference, the
// check block once more byte for byte through its tile's host route, and the
// profile is written when asked for. The card must be fresh.
// Reads result block `block` from its tile through the tile's host route in
// one D2H packet and compares it byte for byte with the same block of
// `reference`; a difference fails naming the tile, its route and the address.
std::expected<void, zlu_runner::Failure> check_sram_block(zlu_card::Card& card, const GemmLayout& layout,
                                                          BlockCoordinate block, std::span<const Element> reference);

zlu_runner::Outcome run_gemm(zlu_card::Card& card, const GemmConfig& config, zlu_runner::HostWriteJitter& jitter);

}  // namespace zlu_gemm
