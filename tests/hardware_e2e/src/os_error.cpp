#include "os_error.hpp"

#include <cerrno>
#include <cstring>

#include <fmt/format.h>

namespace hardware_e2e {

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

std::string render_os_error(int error_number) {
  char buffer[256];
  // The GNU strerror_r returns the message, which may or may not live in buffer.
  const char* message = strerror_r(error_number, buffer, sizeof buffer);
  return fmt::format("{} (os error {}, kind {})", message, error_number, os_error_kind(error_number));
}

}  // namespace hardware_e2e
