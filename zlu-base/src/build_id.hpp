// Which build of an executable is running, for records that must tell
// builds apart.
#pragma once

#include <string>

namespace zlu_base {

// The running executable's build id: the GNU build-id note the linker wrote
// from the executable's content, as hex ("gnu:3f2a..."), so that a build is
// the same on every host it is copied to and differs after any rebuild that
// changes the code. An executable linked without the note is named by its
// size and modification time ("file:<size>-<mtime ns>").
std::string executable_build_id();

}  // namespace zlu_base
