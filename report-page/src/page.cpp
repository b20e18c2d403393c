#include "page.hpp"

#include <string_view>
#include <unordered_map>

#include <nlohmann/json.hpp>

namespace report_page {

// The page's markup, style and script (page_template.html, embedded at build time).
extern const std::string_view page_template;

namespace {

using nlohmann::json;

class TextTable {
  // Each distinct text once; rows refer to it by index, -1 for none.
 public:
  int add(const std::string& text) {
    if (text.empty()) return -1;
    const auto [found, added] = index_.try_emplace(text, static_cast<int>(texts_.size()));
    if (added) texts_.push_back(text);
    return found->second;
  }
  json take() { return json(std::move(texts_)); }

 private:
  std::unordered_map<std::string, int> index_;
  std::vector<std::string> texts_;
};

double rounded(double ms) { return ms < 0 ? -1 : static_cast<double>(static_cast<long long>(ms * 10 + 0.5)) / 10; }

}  // namespace

std::string page_data_json(const RunData& data) {
  TextTable texts;
  json attempts = json::array();
  for (const Attempt& a : data.attempts) {
    attempts.push_back({a.test, a.host, a.card, a.worker, a.try_number, static_cast<int>(a.outcome), a.flaky ? 1 : 0,
                        rounded(a.start_ms), rounded(a.duration_ms), texts.add(a.message), texts.add(a.output)});
  }
  json cards = json::array();
  for (const CardMark& mark : data.cards) cards.push_back({mark.host, mark.card, mark.state, mark.reason});
  json cycles = json::array();
  for (const CycleDelta& delta : data.cycles) cycles.push_back({delta.test, delta.kind, delta.baseline, delta.measured});
  json history = json::array();
  for (const std::string& test : data.tests) {
    const auto found = data.history.find(test);
    history.push_back(found == data.history.end() ? std::string{} : found->second);
  }
  json page = {{"title", data.title}, {"tests", data.tests},  {"hosts", data.hosts},
               {"attempts", attempts}, {"cards", cards},      {"cycles", cycles},
               {"history", history}, {"texts", texts.take()}};
  // A run's bytes need not be UTF-8: what is not becomes U+FFFD.
  return page.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string render_page(const RunData& data) {
  std::string embedded;
  const std::string raw = page_data_json(data);
  embedded.reserve(raw.size() + raw.size() / 16);
  // '<' occurs only inside JSON strings, where \u003c reads the same.
  for (const char c : raw) {
    if (c == '<') {
      embedded += "\\u003c";
    } else {
      embedded += c;
    }
  }
  constexpr std::string_view marker = "@@PAGE_DATA@@";
  const std::string_view page(page_template);
  const std::size_t at = page.find(marker);
  std::string html;
  html.reserve(page.size() + embedded.size());
  html.append(page.substr(0, at));
  html.append(embedded);
  html.append(page.substr(at + marker.size()));
  return html;
}

}  // namespace report_page
