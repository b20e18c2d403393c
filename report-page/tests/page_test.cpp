#include "page.hpp"

#include <nlohmann/json.hpp>
#include <gtest/gtest.h>

namespace report_page {
namespace {

// The embedded data of a rendered page, read back as the page's script reads it.
nlohmann::json embedded_data(const std::string& page) {
  const std::string open = "<script id=\"page-data\" type=\"application/json\">";
  const std::size_t begin = page.find(open) + open.size();
  const std::size_t end = page.find("</script>", begin);
  return nlohmann::json::parse(page.substr(begin, end - begin));
}

TEST(Page, RunTextStaysDataWhateverItHolds) {
  RunData data;
  const std::string hostile = "</script><script>document.title='owned'</script><!-- \xff\xfe";
  data.attempts.push_back({.test = data.test_index(hostile), .host = data.host_index("h"), .outcome = Outcome::Failed,
                           .message = hostile, .output = hostile});
  const std::string page = render_page(data);
  // Only the page's own two script elements end.
  std::size_t closes = 0;
  for (std::size_t at = page.find("</script"); at != std::string::npos; at = page.find("</script", at + 1)) ++closes;
  EXPECT_EQ(closes, 2u);
  EXPECT_EQ(page.find("<!-- "), std::string::npos);
  const nlohmann::json back = embedded_data(page);
  const std::string shown = "</script><script>document.title='owned'</script><!-- \xEF\xBF\xBD\xEF\xBF\xBD";
  EXPECT_EQ(back["tests"][0], shown);
  // The message and the output are one text, kept once.
  EXPECT_EQ(back["texts"].size(), 1u);
  EXPECT_EQ(back["attempts"][0][9], 0);
  EXPECT_EQ(back["attempts"][0][10], 0);
}

}  // namespace
}  // namespace report_page
