#pragma once
// The browser app's files: "/app" and everything below it, served from the "app" folder inside
// "Pages" to anyone on the network without a device key, so a phone without the companion app
// can load the page that pairs it. Only GET requests qualify; the app's own requests to the
// endpoints carry the key like any phone's.

#include <filesystem>
#include <string>
#include <string_view>

namespace fs = std::filesystem;

inline constexpr char kWebAppRoute[] = "/app";
inline constexpr char kWebAppFolder[] = "app";

// Allows the page only its own scripts, styles and requests and the service's own images; no
// inline code, no frames, no other sites.
inline constexpr char kWebAppPolicy[] =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
    "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

// True for GET "/app", "/app/" and "/app/<anything>"; "/apps" and POST are not the app's.
bool IsWebAppRequest(std::string_view method, std::string_view path);

// The file's path inside the app folder, starting with "/": "/index.html" for "/app" and
// "/app/". Only meaningful when IsWebAppRequest holds.
std::string WebAppFilePath(std::string_view path);

// Content types with their character set, so the Chinese texts read right whatever the
// browser's default; unknown extensions are plain bytes, never HTML.
std::string WebAppContentType(std::string_view file);

// Reads the file that relative (a text beginning with "/", not percent-decoded) names inside
// folder. False when it is missing, is not a regular file, holds a NUL or resolves (through
// "..", symbolic links or anything else) to a place outside folder.
bool ReadFileInside(const fs::path& folder, std::string_view relative, std::string& bytes);
