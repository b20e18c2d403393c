// Replacing files, and what is never replaced.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "zlu-base/src/atomic_file.hpp"

namespace zlu_base {
namespace {

namespace fs = std::filesystem;

class Scratch {
public:
  Scratch() {
    std::string pattern = (fs::temp_directory_path() / "zlu-base-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error(std::strerror(errno));
    path_ = pattern;
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  fs::path operator/(const std::string& name) const { return path_ / name; }
  std::size_t entries() const { return static_cast<std::size_t>(std::distance(fs::directory_iterator(path_), {})); }

private:
  fs::path path_;
};

std::string contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(FileReplacer, CommitReplacesAndDroppingLeavesTheOldFile) {
  const Scratch scratch;
  const fs::path target = scratch / "out";
  std::ofstream(target) << "old";
  {
    auto replacer = FileReplacer::open(target);
    ASSERT_TRUE(replacer);
    ASSERT_TRUE(replacer->write(std::string_view("half")));
    EXPECT_EQ(contents(target), "old") << "nothing shows before the commit";
  }
  EXPECT_EQ(contents(target), "old");
  EXPECT_EQ(scratch.entries(), 1u) << "the new file of a dropped replacer is removed";

  auto replacer = FileReplacer::open(target);
  ASSERT_TRUE(replacer);
  ASSERT_TRUE(replacer->write(std::string_view("new")));
  ASSERT_TRUE(replacer->commit());
  EXPECT_EQ(contents(target), "new");
  EXPECT_EQ(scratch.entries(), 1u);
}

TEST(FileReplacer, KeepsTheModeOfTheFileItReplaces) {
  const Scratch scratch;
  std::ofstream(scratch / "private") << "old";
  fs::permissions(scratch / "private", fs::perms(0600));
  fs::create_symlink("private", scratch / "link");
  ASSERT_TRUE(replace_file(scratch / "link", std::as_bytes(std::span("x", 1))));
  EXPECT_TRUE(fs::is_symlink(scratch / "link"));
  EXPECT_EQ(fs::status(scratch / "private").permissions(), fs::perms(0600));

  const fs::path fresh = scratch / "fresh";
  ASSERT_TRUE(replace_file(fresh, std::as_bytes(std::span("x", 1)), {.link = LinkAtTarget::Follow, .new_file_mode = 0640}));
  EXPECT_EQ(fs::status(fresh).permissions(), fs::perms(0640));
}

TEST(FileReplacer, WritesDevicesAndFifosInPlaceAndRefusesDirectories) {
  const Scratch scratch;
  const fs::path device = scratch / "null";
  ASSERT_EQ(::mknod(device.c_str(), S_IFCHR | 0666, ::makedev(1, 3)), 0) << std::strerror(errno);
  for (const LinkAtTarget link : {LinkAtTarget::Follow, LinkAtTarget::Replace}) {
    ASSERT_TRUE(replace_file(device, std::as_bytes(std::span("x", 1)), {.link = link, .new_file_mode = {}}));
    EXPECT_EQ(fs::symlink_status(device).type(), fs::file_type::character);
  }

  const fs::path fifo = scratch / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = contents(fifo); });
  const auto written = replace_file(fifo, std::as_bytes(std::span("through", 7)));
  reader.join();
  ASSERT_TRUE(written) << written.error().describe();
  EXPECT_EQ(received, "through");
  EXPECT_EQ(fs::symlink_status(fifo).type(), fs::file_type::fifo);

  fs::create_directory(scratch / "folder");
  const auto refused = replace_file(scratch / "folder", std::as_bytes(std::span("x", 1)));
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().step, FileError::Step::Refuse);
  EXPECT_EQ(refused.error().describe(), "write " + (scratch / "folder").string() + ": Is a directory");
  EXPECT_EQ(scratch.entries(), 3u);
}

TEST(FileReplacer, ReplacesAPlantedLinkOnlyWhenAsked) {
  const Scratch scratch;
  std::ofstream(scratch / "victim") << "precious";
  fs::create_symlink(scratch / "victim", scratch / "planted");
  ASSERT_TRUE(replace_file(scratch / "planted", std::as_bytes(std::span("new", 3)),
                           {.link = LinkAtTarget::Replace, .new_file_mode = 0644}));
  EXPECT_FALSE(fs::is_symlink(scratch / "planted"));
  EXPECT_EQ(contents(scratch / "planted"), "new");
  EXPECT_EQ(contents(scratch / "victim"), "precious");

  fs::create_symlink("loop-b", scratch / "loop-a");
  fs::create_symlink("loop-a", scratch / "loop-b");
  const auto looped = replace_file(scratch / "loop-a", std::as_bytes(std::span("x", 1)));
  ASSERT_FALSE(looped);
  EXPECT_EQ(looped.error().error_number, ELOOP);
}

}  // namespace
}  // namespace zlu_base
