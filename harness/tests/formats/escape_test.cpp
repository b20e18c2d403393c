// The escapers of the machine-readable reports, checked by parsing what they
// produce for every byte value and for the characters that need care.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "reports/json.hpp"
#include "reports/junit.hpp"
#include "zlu-base/src/utf8.hpp"
#include "xml_document.hpp"

namespace harness_formats {
namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD";

// Every byte value alone, then well-formed multi-byte characters, truncated
// sequences and the two characters XML cannot carry.
std::vector<std::string> awkward_texts() {
  std::vector<std::string> texts;
  for (int byte = 0; byte < 256; ++byte) texts.emplace_back(1, static_cast<char>(byte));
  texts.push_back("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80");
  texts.push_back("cut \xE2\x82 and \xF0\x9F");
  texts.push_back("non-characters \xEF\xBF\xBE \xEF\xBF\xBF");
  texts.push_back("\"quoted\" \\back\\ <tag a='1'>&amp;</tag>\r\n\t");
  return texts;
}

TEST(JsonQuote, EveryTextParsesBackToItsLossyDecodingOnOneLine) {
  for (const std::string& text : awkward_texts()) {
    const std::string quoted = harness::json_quote(text);
    SCOPED_TRACE(quoted);
    EXPECT_EQ(quoted.find('\n'), std::string::npos);
    const auto parsed = nlohmann::json::parse(quoted);
    ASSERT_TRUE(parsed.is_string());
    EXPECT_EQ(parsed.get<std::string>(), zlu_base::decode_utf8_lossy(text));
  }
}

// What an XML parser must read back from an escaped text: the lossy
// decoding with the characters XML 1.0 forbids replaced.
std::string xml_readable(const std::string& text) {
  const std::string decoded = zlu_base::decode_utf8_lossy(text);
  std::string expected;
  for (std::size_t i = 0; i < decoded.size(); ++i) {
    const auto c = static_cast<unsigned char>(decoded[i]);
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
      expected += replacement;
    } else if (decoded.compare(i, 3, "\xEF\xBF\xBE") == 0 || decoded.compare(i, 3, "\xEF\xBF\xBF") == 0) {
      expected += replacement;
      i += 2;
    } else {
      expected += decoded[i];
    }
  }
  return expected;
}

TEST(XmlEscape, EveryTextSurvivesAParserInAttributesAndText) {
  const std::vector<std::string> texts = awkward_texts();
  std::string document = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<texts>\n";
  for (const std::string& text : texts) {
    document += "<t a=\"" + harness::xml_escape(text, harness::XmlPlace::Attribute) + "\">" +
                harness::xml_escape(text, harness::XmlPlace::Text) + "</t>\n";
  }
  document += "</texts>\n";
  const XmlDocument xml(document);
  const ParserRun check = xml.check_well_formed();
  ASSERT_EQ(check.exit_status, 0) << check.output;
  EXPECT_EQ(xml.xpath("count(/texts/t)"), std::to_string(texts.size()));

  // Spot checks through the parser; one xmllint run per text would be slow.
  const std::size_t last = texts.size() - 1;
  for (const std::size_t index : {std::size_t{0}, std::size_t{9}, std::size_t{10}, std::size_t{13}, std::size_t{27},
                                  std::size_t{'"'}, std::size_t{'&'}, std::size_t{'<'}, std::size_t{0xFF}, last - 2,
                                  last - 1, last}) {
    const std::string position = std::to_string(index + 1);
    SCOPED_TRACE("text " + position);
    const std::string expected = xml_readable(texts[index]);
    EXPECT_EQ(xml.xpath("string(/texts/t[" + position + "]/@a)"), expected);
    EXPECT_EQ(xml.xpath("string(/texts/t[" + position + "])"), expected);
  }
}

}  // namespace
}  // namespace harness_formats
