#include "ui/windows/FolderOpener.h"

#include "platform/Spawn.h"

#include <system_error>

bool OpenFolderInFileManager(const std::filesystem::path& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (!std::filesystem::is_directory(folder, error)) {
        return false;
    }
    return SpawnDetached("xdg-open", {folder.string()}, {}, true) > 0;
}
