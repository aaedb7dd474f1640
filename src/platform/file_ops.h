// The file calls that the recorder's fallback chains are built from. They come
// as a table so that a test can make any one leg of a chain fail.
#pragma once

namespace recmux::platform {

struct FileOps {
    bool (*delete_narrow)(const char *path);
    bool (*delete_wide)(const wchar_t *path);
    // 0 on success, like rename(); both replace an existing target.
    int (*rename_narrow)(const char *from, const char *to);
    int (*rename_wide)(const wchar_t *from, const wchar_t *to);
    // Fails when the target exists.
    bool (*move_keep_target)(const char *from, const char *to);
    // Replaces an existing target.
    bool (*copy_replace)(const char *from, const char *to);
    // What was written to the file reaches stable storage.
    bool (*sync_file)(int fd);
    // The names in the folder that holds path reach stable storage.
    bool (*sync_folder)(const char *path);
};

const FileOps &SystemFileOps();

}  // namespace recmux::platform
