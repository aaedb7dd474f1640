#include "platform/file_ops.h"
#include "platform/regular_files.h"

namespace recmux::platform {

// Made and locked under a private name, so that no other opener ever finds the
// file at path unlocked.
UniqueFd CreateLocked(const char *path, FileIdentity &identity)
{
    std::string name;
    UniqueFd file = CreatePrivate(path, name, identity);
    if (file && !SystemFileOps().move_keep_target(name.c_str(), path)) {
        // Closed first: Windows deletes an open file only when it is closed.
        file = UniqueFd();
        SystemFileOps().delete_narrow(name.c_str());
        return {};
    }
    file.MovedTo(path);
    return file;
}

}  // namespace recmux::platform
