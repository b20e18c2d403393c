// Writing a file so that its readers see the old contents or the new, never
// half of either.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <expected>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace zlu_base {

struct FileError {
  // A failed step of writing a file, the file it failed on and the system's
  // error number. A refusal (the path names a directory or a kind of file
  // that is never written) is the step `Refuse`.

  enum class Step { Resolve, Refuse, Open, Create, SetMode, Write, Flush, Close, Rename };

  Step step = Step::Open;
  std::filesystem::path path;
  int error_number = 0;
  // With Rename: the new file that could not be renamed to `path`.
  std::filesystem::path temporary;
  // When set, shown instead of the system's description.
  std::string reason;

  // The system's description of the error, or `reason`.
  std::string cause() const;
  // "<step> <path>: <cause>", e.g. "rename /x/.p.1-0.tmp to /x/p: Permission denied".
  std::string describe() const;
};

// What to do with a symbolic link found at the target.
enum class LinkAtTarget {
  // Replace the file the link names (following a chain of links; a dangling
  // link gets its target created) and keep the link, so that a link such as
  // a user's "latest" stays what it is.
  Follow,
  // Replace the link itself with the new file and never write through it, for
  // paths another user could have planted a link at.
  Replace,
};

// What to do with a FIFO at the target that no process has open for reading.
enum class FifoWithoutReader {
  // Wait in the open until a reader comes, for a writer started before its reader.
  Wait,
  // Refuse it at once, for a writer that must not hang on a reader that may
  // never come.
  Refuse,
};

struct ReplaceOptions {
  LinkAtTarget link = LinkAtTarget::Follow;
  // The mode of a file that did not exist before, set outright whatever the
  // umask; empty: 0666 narrowed by the umask. A file that existed keeps its
  // own mode either way.
  std::optional<mode_t> new_file_mode;
  FifoWithoutReader fifo_without_reader = FifoWithoutReader::Wait;
};

class FileReplacer {
  // Writes the new contents of one file. A regular file (or a path where
  // none is yet) is replaced: the bytes go to a new file beside it, created
  // exclusively so that nothing planted there is written through, and
  // `commit` flushes it to disk and renames it over the target. Dropping the
  // replacer without a successful commit removes the new file and leaves the
  // target as it was. A character device or a FIFO is never replaced: it is
  // opened and written in place. A directory, a block device or a socket is
  // refused.
public:
  // Opens the way to `target`. Opening a FIFO waits for its reader, or is
  // refused without one, as `options` say.
  static std::expected<FileReplacer, FileError> open(const std::filesystem::path& target,
                                                     const ReplaceOptions& options = {});

  FileReplacer(FileReplacer&& other) noexcept;
  FileReplacer& operator=(FileReplacer&&) = delete;
  FileReplacer(const FileReplacer&) = delete;
  FileReplacer& operator=(const FileReplacer&) = delete;
  ~FileReplacer();

  // Appends `bytes`, retrying short writes and interruptions.
  std::expected<void, FileError> write(std::span<const std::byte> bytes);
  std::expected<void, FileError> write(std::string_view text);

  // Makes the written bytes the file's contents: for a replaced file, flush,
  // close and rename; in place, close. After a failure the target is as it was
  // (in place: holds what was written so far).
  std::expected<void, FileError> commit();

  // Whether the target is written in place rather than replaced.
  bool in_place() const { return temporary_.empty(); }

  // The file that is replaced or written: the target, or the file its links
  // name under LinkAtTarget::Follow.
  const std::filesystem::path& destination() const { return destination_; }

private:
  FileReplacer(int fd, std::filesystem::path destination, std::filesystem::path temporary);
  // The file the bytes go to: the new file, or the destination in place.
  const std::filesystem::path& written_path() const;

  int fd_ = -1;
  std::filesystem::path destination_;
  std::filesystem::path temporary_;  // empty when written in place
  bool committed_ = false;
};

// Opens a replacer for `target`, writes `bytes` and commits.
std::expected<void, FileError> replace_file(const std::filesystem::path& target, std::span<const std::byte> bytes,
                                            const ReplaceOptions& options = {});

}  // namespace zlu_base
