#include "net/CHUploadJanitor.h"

#include "net/UploadTempFile.h"

#include <algorithm>
#include <map>
#include <system_error>

uint64_t CHUploadJanitor::BeginHandOver() {
    std::lock_guard<std::mutex> guard(m_lock);
    return ++m_ticket;
}

void CHUploadJanitor::Track(HandOver handOver) {
    std::lock_guard<std::mutex> guard(m_lock);
    Entry entry;
    entry.handOver = std::move(handOver);
    // A token shared with another pending upload cannot tell which of them the library took,
    // not even after the other one has gone.
    for (Entry& other : m_entries) {
        if (!entry.handOver.token.empty() && other.handOver.token == entry.handOver.token) {
            other.handOver.tokenKnownBefore = true;
            entry.handOver.tokenKnownBefore = true;
        }
    }
    entry.end = ++m_ticket;
    m_entries.push_back(std::move(entry));
}

size_t CHUploadJanitor::Pending() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_entries.size();
}

size_t CHUploadJanitor::Sweep(const TokenKnownFn& tokenKnown) {
    std::vector<Entry> entries;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_entries.empty()) {
            return 0;
        }
        entries = m_entries;
    }
    // The library is asked without the lock held: it takes its own locks.
    std::map<std::string, int> tokenUses;
    for (const Entry& entry : entries) {
        ++tokenUses[entry.handOver.token];
    }
    std::vector<bool> settled(entries.size(), false);
    uint64_t latestSettledBegin = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        const HandOver& handOver = entries[i].handOver;
        std::error_code ec;
        bool gone = !fs::exists(handOver.file, ec) && !ec;
        bool matched = !gone && !handOver.token.empty() && !handOver.tokenKnownBefore &&
                       tokenUses[handOver.token] == 1 && tokenKnown && tokenKnown(handOver.token);
        settled[i] = gone || matched;
        // Only a file the library moved away proves that its queue reached this hand-over: a
        // known token may have been learnt from another upload of the same photo.
        if (gone) {
            latestSettledBegin = std::max(latestSettledBegin, handOver.begin);
        }
    }
    std::vector<fs::path> folders;
    std::vector<uint64_t> done;
    for (size_t i = 0; i < entries.size(); ++i) {
        // Handed over completely before a settled one was handed over: settled as well.
        if (settled[i] || entries[i].end < latestSettledBegin) {
            folders.push_back(entries[i].handOver.folder);
            done.push_back(entries[i].end);
        }
    }
    if (done.empty()) {
        return 0;
    }
    for (const fs::path& folder : folders) {
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
    std::lock_guard<std::mutex> guard(m_lock);
    std::erase_if(m_entries, [&done](const Entry& entry) {
        return std::find(done.begin(), done.end(), entry.end) != done.end();
    });
    return done.size();
}

size_t CHUploadJanitor::RemoveLeftovers(const fs::path& root, std::chrono::seconds minAge) {
    size_t removed = 0;
    std::error_code ec;
    fs::directory_iterator it(root, ec);
    if (ec) {
        return 0;
    }
    const auto now = fs::file_time_type::clock::now();
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) {
            break;
        }
        const fs::directory_entry& entry = *it;
        std::error_code entryError;
        if (!IsUploadFolderName(entry.path().filename().native()) ||
            !entry.is_directory(entryError) || entry.is_symlink(entryError)) {
            continue;
        }
        auto changed = fs::last_write_time(entry.path(), entryError);
        if (entryError || now - changed < minAge) {
            continue;
        }
        if (fs::remove_all(entry.path(), entryError) != static_cast<std::uintmax_t>(-1) &&
            !entryError) {
            ++removed;
        }
    }
    return removed;
}
