#pragma once
// Received photos wait in a private folder inside the storage root (".incoming", next to
// Repos) until the library has stored them. Being on the same file system as the repository,
// storing is a rename; being the user's own folder (mode 0700, owner checked, never a link),
// no other user on the PC can read, replace or collide with a photo in flight.
//
// Each upload gets a sub-folder named by 16 hex digits holding the file under the name the
// phone gave (the library keeps that name), and, once the whole body is written and flushed,
// a record "<id>.json" beside it (device key, photo token, name, size). A sub-folder with a
// matching record is a complete photo; anything else is an incomplete body.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;

// The requested name without '/', '\', "..", NUL and control characters, as valid UTF-8 and
// cut to a length the file system accepts (keeping a short extension). "" when nothing usable
// is left.
std::string SafeUploadName(std::string_view requested);
// A fresh "%lld.jpg" name.
std::string FallbackUploadName();
// True for the names the staging folder gives its sub-folders.
bool IsUploadFolderName(std::string_view name);

// The staging folder of one storage root, held open by descriptor.
class UploadStaging {
public:
    static constexpr char kFolderName[] = ".incoming";

    // A photo left complete by an earlier run.
    struct Leftover {
        std::string id;
        fs::path file;
        std::string deviceKey;
        std::string token;
    };

    // Opens root/.incoming, creating it when missing. Refused (Ok() false) when it is a link,
    // not a folder, or belongs to another user; a folder of ours that others may enter is
    // made private again.
    static std::shared_ptr<UploadStaging> Open(const fs::path& root);
    ~UploadStaging();
    UploadStaging(const UploadStaging&) = delete;
    UploadStaging& operator=(const UploadStaging&) = delete;

    const fs::path& Folder() const { return m_folder; }
    int Fd() const { return m_fd; }

    // Removes every incomplete body and returns the complete photos, oldest first.
    std::vector<Leftover> TakeLeftovers();
    // Removes the upload's sub-folder (with the file, when it is still there) and its record.
    void Remove(const std::string& id, const std::string& name);
    // Removes the folder itself when nothing is in it.
    static void RemoveIfEmpty(const fs::path& root);

private:
    UploadStaging(fs::path folder, int fd) : m_folder(std::move(folder)), m_fd(fd) {}
    void RemoveFolderTree(const std::string& id);

    fs::path m_folder;
    int m_fd = -1;
};

// One photo being received into the staging folder. Removed on destruction unless Keep() was
// called (the library or a completion then removes it).
class StagedUpload {
public:
    // Creates a new sub-folder and, in it, the file `name` (a single path component), both
    // exclusively and without following links. Ok() tells whether that worked.
    StagedUpload(std::shared_ptr<UploadStaging> staging, const std::string& name);
    ~StagedUpload();
    StagedUpload(const StagedUpload&) = delete;
    StagedUpload& operator=(const StagedUpload&) = delete;

    bool Ok() const { return m_created; }
    const std::string& Id() const { return m_id; }
    const std::string& Name() const { return m_name; }
    fs::path File() const;

    // Writes all bytes and flushes them to the disk; false when any write or the flush fails.
    bool Write(std::string_view bytes);
    // Sets the file's modification and access times to the given seconds since 1970 (UTC).
    bool SetTimes(int64_t seconds);
    // Marks the body complete: closes the file and writes the record with what the library
    // needs to store it.
    bool Seal(const std::string& deviceKey, const std::string& token);
    // From now on the upload is someone else's to remove (UploadStaging::Remove).
    void Keep() { m_keep = true; }

private:
    std::shared_ptr<UploadStaging> m_staging;
    std::string m_id;
    std::string m_name;
    int64_t m_size = 0;
    int m_fileFd = -1; // open until sealed
    bool m_created = false;
    bool m_keep = false;
};
