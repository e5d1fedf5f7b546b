#include "net/WebAppFiles.h"

#include "platform/FileSystem.h"

#include <system_error>

bool IsWebAppRequest(std::string_view method, std::string_view path) {
    if (method != "GET" || path.substr(0, sizeof(kWebAppRoute) - 1) != kWebAppRoute) {
        return false;
    }
    return path.size() == sizeof(kWebAppRoute) - 1 || path[sizeof(kWebAppRoute) - 1] == '/';
}

std::string WebAppFilePath(std::string_view path) {
    std::string_view rest = path.substr(sizeof(kWebAppRoute) - 1);
    if (rest.empty() || rest == "/") {
        return "/index.html";
    }
    return std::string(rest);
}

std::string WebAppContentType(std::string_view file) {
    size_t slash = file.find_last_of('/');
    std::string_view name = slash == std::string_view::npos ? file : file.substr(slash + 1);
    size_t dot = name.rfind('.');
    std::string_view extension = dot == std::string_view::npos ? "" : name.substr(dot);
    if (extension == ".html") {
        return "text/html; charset=utf-8";
    }
    if (extension == ".css") {
        return "text/css; charset=utf-8";
    }
    if (extension == ".js") {
        return "application/javascript; charset=utf-8";
    }
    if (extension == ".svg") {
        return "image/svg+xml";
    }
    if (extension == ".png") {
        return "image/png";
    }
    if (extension == ".jpg") {
        return "image/jpeg";
    }
    return "application/octet-stream";
}

bool ReadFileInside(const fs::path& folder, std::string_view relative, std::string& bytes) {
    bytes.clear();
    if (relative.find('\0') != std::string_view::npos) {
        return false;
    }
    std::error_code error;
    fs::path base = fs::canonical(folder, error);
    if (error || base.empty()) {
        return false;
    }
    // The relative text is appended as text, not as a path component: "/x" names a file inside
    // the folder, anything without a leading "/" names a sibling and fails the check below.
    fs::path real = fs::canonical(fs::path(folder.native() + std::string(relative)), error);
    if (error) {
        return false;
    }
    std::string prefix = base.native();
    if (prefix.back() != '/') {
        prefix += '/';
    }
    const std::string& resolved = real.native();
    if (resolved.size() <= prefix.size() || resolved.compare(0, prefix.size(), prefix) != 0) {
        return false;
    }
    if (!fs::is_regular_file(real, error) || error) {
        return false;
    }
    return ReadWholeFile(real, bytes);
}
