#pragma once
// Removes the temporary sub-folders of received photos once the library is through with them.
//
// The library takes a received file over by moving it into the repository; a file it already
// holds (a duplicate) or cannot store stays where it was. There is no completion call, so the
// janitor reads the outcome from what it can see:
//   - the file is gone: the library moved it, the empty sub-folder is left over;
//   - the photo token, unknown when the file was handed over and not shared with another
//     pending upload, is now known: the library stored or matched this very file;
//   - the library stores queued files strictly in the order they were handed over, so once a
//     later hand-over's file has gone, every earlier one has settled too (including files the
//     library could not store).
// Uploads still pending when the program ends are swept at the next start (RemoveLeftovers):
// the import queue lives in memory only, so nothing of an earlier run is still queued.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace fs = std::filesystem;

class CHUploadJanitor {
public:
    // Tells whether the library knows a photo token now.
    using TokenKnownFn = std::function<bool(const std::string& token)>;

    struct HandOver {
        fs::path folder;
        fs::path file;
        std::string token;
        bool tokenKnownBefore = false;
        uint64_t begin = 0; // from BeginHandOver, taken before the file is handed to the library
    };

    // Call right before handing a file to the library; pass the result to Track afterwards.
    uint64_t BeginHandOver();
    // Call once the hand-over call has returned.
    void Track(HandOver handOver);
    // Removes the sub-folders of every tracked upload that has settled. Returns how many.
    size_t Sweep(const TokenKnownFn& tokenKnown);
    size_t Pending() const;

    // Removes sub-folders of root named like UploadTempFile's whose last change is older than
    // minAge. Returns how many.
    static size_t RemoveLeftovers(const fs::path& root, std::chrono::seconds minAge);

private:
    struct Entry {
        HandOver handOver;
        uint64_t end = 0; // ticket taken after the hand-over call returned
    };

    mutable std::mutex m_lock;
    uint64_t m_ticket = 0;
    std::vector<Entry> m_entries; // in order of Track
};
