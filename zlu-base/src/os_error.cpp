#include "os_error.hpp"

#include <cerrno>
#include <cstring>

#include <fmt/format.h>

namespace zlu_base {

std::string os_error_text(int error_number) {
  char buffer[256];
  // The GNU strerror_r returns the text, not necessarily in `buffer`.
  return strerror_r(error_number, buffer, sizeof buffer);
}

std::string render_os_error(int error_number) {
  return fmt::format("{} (os error {})", os_error_text(error_number), error_number);
}

std::string_view os_error_kind(int error_number) {
  switch (error_number) {
    case ENOENT: return "NotFound";
    case EACCES:
    case EPERM: return "PermissionDenied";
    case EEXIST: return "AlreadyExists";
    case EINTR: return "Interrupted";
    case EINVAL: return "InvalidInput";
    case ENOMEM: return "OutOfMemory";
    case EAGAIN: return "WouldBlock";
    case ENOTDIR: return "NotADirectory";
    case EISDIR: return "IsADirectory";
    case ENOEXEC: return "ExecFormatError";
    case E2BIG: return "ArgumentListTooLong";
    case ETXTBSY: return "ExecutableFileBusy";
    case ELOOP: return "FilesystemLoop";
    case ENAMETOOLONG: return "InvalidFilename";
    case ENOSPC: return "StorageFull";
    case EROFS: return "ReadOnlyFilesystem";
    case EBUSY: return "ResourceBusy";
    case ENOSYS: return "Unsupported";
    case EPIPE: return "BrokenPipe";
    case ECHILD: return "ChildNotFound";
    case EMFILE:
    case ENFILE: return "TooManyOpenFiles";
    case EIO: return "InputOutputError";
    default: return "Uncategorized";
  }
}

std::string render_os_error_with_kind(int error_number) {
  return fmt::format("{} (os error {}, kind {})", os_error_text(error_number), error_number,
                     os_error_kind(error_number));
}

}  // namespace zlu_base
