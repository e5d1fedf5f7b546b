#include "shell/StoragePaths.h"

#include "media/Base64.h"
#include "media/Ids.h"
#include "media/JsonText.h"
#include "platform/FileSystem.h"
#include "platform/Folders.h"

#include <json/value.h>

#include <cinttypes>
#include <cstdio>
#include <system_error>

fs::path SettingsPointerPath() {
    fs::path config = GetAppDataDir();
    if (config.empty()) {
        return {};
    }
    return config / "Vellumo" / kLibraryFileName;
}

namespace {

// The pointer file's object; an empty object when the file is missing or holds anything else.
Json::Value ReadPointerObject(const fs::path& pointerFile) {
    std::string text;
    Json::Value value;
    if (!ReadWholeFile(pointerFile, text) || !JsonParse(text, value) || !value.isObject()) {
        return Json::Value(Json::objectValue);
    }
    return value;
}

} // namespace

fs::path ReadSettingsRoot(const fs::path& pointerFile) {
    if (pointerFile.empty()) {
        return {};
    }
    Json::Value object = ReadPointerObject(pointerFile);
    const Json::Value& root = JsonMember(object, "RootPath");
    if (!root.isString()) {
        return {};
    }
    return fs::path(Base64Decode(root.asString()));
}

bool WriteSettingsRoot(const fs::path& pointerFile, const fs::path& root) {
    if (pointerFile.empty()) {
        return false;
    }
    Json::Value object = ReadPointerObject(pointerFile);
    object["RootPath"] = Base64Encode(root.string());
    std::string text = JsonStyled(object);

    std::error_code ec;
    fs::create_directories(pointerFile.parent_path(), ec);
    fs::path temporary = pointerFile;
    temporary += ".new";
    fs::remove(temporary, ec);
    if (!WriteWholeFile(temporary, text)) {
        fs::remove(temporary, ec);
        return false;
    }
    fs::rename(temporary, pointerFile, ec);
    if (ec) {
        fs::remove(temporary, ec);
        return false;
    }
    return true;
}

fs::path DefaultStorageRoot() {
    fs::path base = GetDocumentsDir();
    if (base.empty()) {
        base = GetModuleDir();
    }
    if (base.empty()) {
        return {};
    }
    return base / "Vellumo";
}

fs::path NewTempFolderPath() {
    char name[64];
    std::snprintf(name, sizeof(name), "Vellumo_Temp_%016" PRIX64, NewId64());
    return GetTempDir() / name;
}

fs::path NormalizeRoot(const fs::path& root) {
    if (root.empty()) {
        return {};
    }
    std::error_code ec;
    fs::path absolute = fs::absolute(root, ec);
    if (ec) {
        absolute = root;
    }
    fs::path normal = absolute.lexically_normal();
    // "/a/b/" -> "/a/b"; the file-system root stays "/".
    if (!normal.has_filename() && normal.has_parent_path() && normal != normal.root_path()) {
        normal = normal.parent_path();
    }
    return normal;
}
