#include "lib.hpp"

#include <fmt/format.h>

#include "zlu-base/src/quote.hpp"

namespace zlu_exchange {
namespace {

struct Renderer {
  std::string operator()(const ExchangeError::Tile& e) const { return fmt::format("Tile({})", e.tile); }
  std::string operator()(const ExchangeError::DuplicateTile&) const { return "DuplicateTile"; }
  std::string operator()(const ExchangeError::Count& e) const { return fmt::format("Count({})", e.count); }
  std::string operator()(const ExchangeError::ReceiverSet&) const { return "ReceiverSet"; }
  std::string operator()(const ExchangeError::Schedule& e) const { return "Schedule(" + zlu_base::debug_quoted(e.reason) + ")"; }
  std::string operator()(const ExchangeError::Address& e) const { return fmt::format("Address({})", e.address); }
  std::string operator()(const ExchangeError::HostPacket&) const { return "HostPacket"; }
};

struct SamePayload {
  bool operator()(const ExchangeError::Tile& a, const ExchangeError::Tile& b) const { return a.tile == b.tile; }
  bool operator()(const ExchangeError::Count& a, const ExchangeError::Count& b) const { return a.count == b.count; }
  bool operator()(const ExchangeError::Schedule& a, const ExchangeError::Schedule& b) const { return a.reason == b.reason; }
  bool operator()(const ExchangeError::Address& a, const ExchangeError::Address& b) const { return a.address == b.address; }
  template <typename A, typename B> bool operator()(const A&, const B&) const { return std::is_same_v<A, B>; }
};

}  // namespace

std::string ExchangeError::render() const { return std::visit(Renderer{}, value_); }

bool operator==(const ExchangeError& a, const ExchangeError& b) {
  return std::visit(SamePayload{}, a.value_, b.value_);
}

}  // namespace zlu_exchange
