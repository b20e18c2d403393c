#include "svg.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "kinds.hpp"
#include "profile_builder.hpp"
#include "tool.hpp"

namespace zlu_profile {
namespace {

using testing::ProfileShape;
using testing::ScratchDir;
using zlu_package::ProfileStepKind;

constexpr const char* CHROMIUM = "/usr/bin/chromium";

void write_svg_file(const ProfileShape& shape, std::string_view title, const std::filesystem::path& path) {
  std::ofstream out(path, std::ios::binary);
  write_svg(testing::decode(shape), title, out);
}

testing::ProgramRun xmllint(const std::filesystem::path& svg) {
  return testing::run_program("xmllint", {"--noout", svg.string()});
}

TEST(Svg, IsWellFormedWhateverTheTitleHolds) {
  const ScratchDir scratch;
  write_svg_file(testing::card_profile(2), "a <b> & \"c\" 'd' \x01 \xff\xfe end", scratch / "p.svg");
  const auto run = xmllint(scratch / "p.svg");
  EXPECT_EQ(run.exit_code, 0) << run.err;
  const std::string svg = testing::read_file(scratch / "p.svg");
  EXPECT_NE(svg.find("a &lt;b&gt; &amp; &quot;c&quot; &apos;d&apos; \xEF\xBF\xBD \xEF\xBF\xBD\xEF\xBF\xBD end"),
            std::string::npos);
}

TEST(Svg, XmlEscapeKeepsValidMultibyteText) {
  EXPECT_EQ(xml_escape("µs → 5 < 6"), "µs → 5 &lt; 6");
  // A lone continuation byte, an overlong form and a surrogate are each replaced.
  EXPECT_EQ(xml_escape("\x80|\xC0\xAF|\xED\xA0\x80"),
            "\xEF\xBF\xBD|\xEF\xBF\xBD\xEF\xBF\xBD|\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(Svg, SizeStaysBoundedForProfilesWithVeryManySamples) {
  ProfileShape shape{.schema_version = 3, .clock_hz = 1'000'000, .tiles = {}};
  for (std::uint32_t physical = 0; physical < 40; ++physical) {
    testing::TileSpec tile{.physical_tile = physical, .samples = {}};
    for (std::uint32_t cycle = 0; cycle < 40'000; cycle += 2) {
      tile.samples.push_back({.kind = cycle % 4 == 0 ? ProfileStepKind::Compute : ProfileStepKind::Exchange,
                              .start_cycle = cycle, .end_cycle = cycle + 2, .operation = "", .kernel = "",
                              .metadata = {}});
    }
    shape.tiles.push_back(std::move(tile));
  }
  std::ostringstream out;
  write_svg(testing::decode(shape), "many", out);
  // 800000 samples; one bar each would take well over 10 MB.
  EXPECT_LT(out.str().size(), 2'000'000u);
}

TEST(Svg, RendersInTheBrowserWithEveryKindColour) {
  if (!std::filesystem::exists(CHROMIUM)) {
    GTEST_SKIP() << "chromium is not installed at " << CHROMIUM << "; the rendering check needs it";
  }
  const ScratchDir scratch;
  write_svg_file(testing::card_profile(3), "rendering", scratch / "p.svg");
  const auto render = testing::run_program(
      CHROMIUM, {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--user-data-dir=" + (scratch / "browser").string(), "--screenshot=" + (scratch / "p.png").string(),
                 "--window-size=1960,1600", "file://" + (scratch / "p.svg").string()});
  ASSERT_EQ(render.exit_code, 0) << render.err;
  const auto decoded = testing::run_program("python3", {ZLU_PROFILE_PNG_COLOURS, (scratch / "p.png").string()});
  ASSERT_EQ(decoded.exit_code, 0) << decoded.err;
  const nlohmann::json png = nlohmann::json::parse(decoded.out);
  const auto& colours = png["colours"];
  const std::uint64_t pixels = png["width"].get<std::uint64_t>() * png["height"].get<std::uint64_t>();
  const std::uint64_t white = colours.value("#ffffff", std::uint64_t{0});
  EXPECT_LT(white, pixels * 9 / 10) << "the rendering is nearly blank";
  for (ProfileStepKind kind : STEP_KINDS) {
    const std::string colour{kind_colour(kind)};
    // The timeline alone gives each kind thousands of pixels.
    EXPECT_GT(colours.value(colour, std::uint64_t{0}), 1000u) << kind_name(kind) << " " << colour;
  }
}

}  // namespace
}  // namespace zlu_profile
