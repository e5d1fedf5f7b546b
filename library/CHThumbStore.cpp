#include "library/CHThumbStore.h"

#include "library/CHImageList.h"
#include "library/CHThumbMaker.h"
#include "library/ISQLite3.h"
#include "media/CHBitmap.h"
#include "platform/FileSystem.h"
#include "shell/CWorkerSlot.h"

#include <array>
#include <atomic>
#include <cstdlib>
#include <deque>
#include <limits>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace {

constexpr int kWorkerCount = 10;

using Size = std::pair<int, int>;

// Table names read back from a store are used in SQL text only when they are ours.
bool IsSizeTable(const std::string& name) {
    size_t x = name.find('x');
    if (name.size() < 4 || name[0] != 't' || x == std::string::npos || x < 2 ||
        x + 1 >= name.size()) {
        return false;
    }
    for (size_t i = 1; i < name.size(); ++i) {
        if (i != x && (name[i] < '0' || name[i] > '9')) {
            return false;
        }
    }
    return true;
}

int DecodeSide(int side) {
    return side == kThumbFree ? -1 : side;
}

bool ReadStored(ISQLite3& store, const std::string& table, Pid pid, std::string& out) {
    out.clear();
    auto rows = store.Query("SELECT image FROM " + table + " WHERE pid = ?; ", {int64_t{pid}});
    if (!rows) {
        return false; // no table of that size yet, or the store is not open
    }
    if (rows->Next()) {
        rows->GetBlob(out, 0);
    }
    rows->Finish();
    return !out.empty();
}

std::vector<std::string> SizeTables(ISQLite3& store) {
    std::vector<std::string> tables;
    if (auto rows = store.Query("SELECT name FROM sqlite_master WHERE type='table'")) {
        while (rows->Next()) {
            std::string name = rows->GetText(0);
            if (IsSizeTable(name)) {
                tables.push_back(std::move(name));
            }
        }
        rows->Finish();
    }
    return tables;
}

// Every size table a new one would be refused: the store keeps no further sizes.
bool StoreIsFull(ISQLite3& store, const std::string& table) {
    return !store.TableExists(table) &&
           store.QueryInt64("SELECT count(*) FROM sqlite_master WHERE type='table'") >=
               CHThumbStore::kMaxSizeTables;
}

// The stored thumbnail of the pid whose size is nearest to width x height.
bool ReadNearestStored(ISQLite3& store, Pid pid, int width, int height, std::string& out) {
    out.clear();
    int64_t best = std::numeric_limits<int64_t>::max();
    for (const std::string& table : SizeTables(store)) {
        const size_t x = table.find('x');
        const int64_t w = std::atoll(table.c_str() + 1);
        const int64_t h = std::atoll(table.c_str() + x + 1);
        const int64_t distance = std::llabs(w - width) + std::llabs(h - height);
        std::string bytes;
        if (distance < best && ReadStored(store, table, pid, bytes)) {
            best = distance;
            out.swap(bytes);
        }
    }
    return !out.empty();
}

bool WriteStored(ISQLite3& store, const std::string& table, Pid pid, std::string_view bytes) {
    if (!store.TableExists(table)) {
        // Sizes come from the phone's requests, one table each in every store. Beyond a
        // generous number of sizes thumbnails are made for each request and not kept: a caller
        // asking for ever new sizes cannot fill the disk with copies of the library.
        if (store.QueryInt64("SELECT count(*) FROM sqlite_master WHERE type='table'") >=
            CHThumbStore::kMaxSizeTables) {
            return false;
        }
        // Another thread may create it at the same moment; the insert below tells.
        store.Exec("CREATE TABLE " + table + "(pid INTEGER PRIMARY KEY, image BLOB); ");
    }
    return store.Exec("REPLACE INTO " + table + "(pid, image) VALUES(?, ?); ",
                      {int64_t{pid}, SqlBlob{bytes}});
}

} // namespace

struct CHThumbStore::Impl {
    ImagePathFn imagePathOf;

    std::mutex storeLock; // the folder and the open stores
    fs::path folder;
    std::map<int, std::shared_ptr<ISQLite3>> stores;

    std::mutex queueLock; // pid -> size -> requests in arrival order
    std::map<Pid, std::map<Size, std::deque<ThumbRequest>>> queue;

    std::mutex listLock; // delivered thumbnails and the image lists
    std::map<Pid, std::map<Size, std::pair<CHImageList*, int>>> delivered;
    std::map<Size, std::unique_ptr<CHImageList>> lists;

    std::atomic<bool> stopping{false};
    std::array<CWorkerSlot, kWorkerCount> workers;
    // Every thumbnail is decoded here, by the few threads of the pool, within its memory.
    CHThumbMaker maker;

    // The store of a pid, opened on first use. Only an open store is kept; the caller holds
    // its reference for the whole request, so CloseStores cannot close it underneath.
    std::shared_ptr<ISQLite3> OpenStore(Pid pid) {
        const int number = StoreNumber(pid);
        std::lock_guard<std::mutex> guard(storeLock);
        auto it = stores.find(number);
        if (it != stores.end()) {
            return it->second;
        }
        std::shared_ptr<ISQLite3> store = CreateISQLite3();
        if (!folder.empty() && store->Open(folder / (std::to_string(number) + ".thumb"))) {
            stores.emplace(number, store);
        }
        return store;
    }

    bool TakeRequest(ThumbRequest& request) {
        std::lock_guard<std::mutex> guard(queueLock);
        while (!queue.empty()) {
            auto pidIt = queue.begin();
            while (!pidIt->second.empty()) {
                auto sizeIt = pidIt->second.begin();
                if (!sizeIt->second.empty()) {
                    request = sizeIt->second.front();
                    sizeIt->second.pop_front();
                    if (sizeIt->second.empty()) {
                        pidIt->second.erase(sizeIt);
                    }
                    if (pidIt->second.empty()) {
                        queue.erase(pidIt);
                    }
                    return true;
                }
                pidIt->second.erase(sizeIt);
            }
            queue.erase(pidIt);
        }
        return false;
    }

    void Work(int slot) {
        for (;;) {
            ThumbRequest request;
            if (!stopping && TakeRequest(request)) {
                Serve(request);
                continue;
            }
            if (stopping || workers[static_cast<size_t>(slot)].TryFinish()) {
                return;
            }
        }
    }

    void Serve(const ThumbRequest& request) {
        const Size size{request.width, request.height};
        {
            std::unique_lock<std::mutex> guard(listLock);
            auto pidIt = delivered.find(request.pid);
            if (pidIt != delivered.end()) {
                auto it = pidIt->second.find(size);
                if (it != pidIt->second.end()) {
                    auto [list, index] = it->second;
                    guard.unlock();
                    if (request.callback != nullptr) {
                        request.callback(list, index, request.user1, request.user2, request.pid);
                    }
                    return;
                }
            }
        }
        const std::string table = TableName(request.width, request.height);
        const int w = DecodeSide(request.width);
        const int h = DecodeSide(request.height);
        std::shared_ptr<ISQLite3> store = OpenStore(request.pid);
        CHBitmap bitmap;
        std::string bytes;
        bool made = ReadStored(*store, table, request.pid, bytes) &&
                    maker.MakeBitmap(bytes, w, h, bitmap) == CHThumbMaker::Result::Made;
        if (!made) {
            fs::path path = imagePathOf ? imagePathOf(request.pid) : fs::path();
            if (!path.empty() && ReadWholeFile(path, bytes) &&
                maker.MakeBitmap(bytes, w, h, bitmap) == CHThumbMaker::Result::Made) {
                made = true;
                std::string jpeg;
                if (bitmap.EncodeJpeg(jpeg)) {
                    WriteStored(*store, table, request.pid, jpeg);
                }
            }
        }
        if (!made) {
            return;
        }
        CHImageList* list = nullptr;
        int index = -1;
        {
            std::lock_guard<std::mutex> guard(listLock);
            auto& slot = lists[size];
            if (!slot) {
                slot = std::make_unique<CHImageList>(request.width, request.height);
            }
            list = slot.get();
            index = list->Add(std::move(bitmap));
            if (index >= 0) {
                delivered[request.pid][size] = {list, index};
            }
        }
        if (index >= 0 && request.callback != nullptr) {
            request.callback(list, index, request.user1, request.user2, request.pid);
        }
    }
};

int CHThumbStore::ClampSide(int side) {
    if (side == kThumbFree) {
        return side;
    }
    if (side < 0) {
        return 0;
    }
    return side > kMaxSide ? kMaxSide : side;
}

int CHThumbStore::StoreNumber(Pid pid) {
    return static_cast<int>(static_cast<uint32_t>(pid) & 31u) + 1;
}

std::string CHThumbStore::TableName(int width, int height) {
    return "t" + std::to_string(width) + "x" + std::to_string(height);
}

bool CHThumbStore::MakeThumbnail(std::string_view photo, int width, int height, std::string& jpeg) {
    jpeg.clear();
    CHBitmap bitmap;
    return bitmap.DecodeThumbnail(photo.data(), photo.size(), DecodeSide(ClampSide(width)),
                                  DecodeSide(ClampSide(height))) &&
           bitmap.EncodeJpeg(jpeg);
}

CHThumbStore::CHThumbStore(ImagePathFn imagePathOf) : m_impl(std::make_unique<Impl>()) {
    m_impl->imagePathOf = std::move(imagePathOf);
}

CHThumbStore::~CHThumbStore() {
    Shutdown();
    CloseStores();
}

void CHThumbStore::SetFolder(const fs::path& thumbFolder) {
    std::lock_guard<std::mutex> guard(m_impl->storeLock);
    m_impl->folder = thumbFolder;
}

bool CHThumbStore::GetThumbnail(Pid pid, int width, int height, std::string& out) {
    out.clear();
    width = ClampSide(width);
    height = ClampSide(height);
    const std::string table = TableName(width, height);
    std::shared_ptr<ISQLite3> store = m_impl->OpenStore(pid);
    if (ReadStored(*store, table, pid, out)) {
        return true;
    }
    // A size that would not be kept is answered with the nearest one that is, instead of
    // decoding the photo again for every request.
    const bool full = StoreIsFull(*store, table);
    if (full && ReadNearestStored(*store, pid, width, height, out)) {
        return true;
    }
    fs::path path = m_impl->imagePathOf ? m_impl->imagePathOf(pid) : fs::path();
    if (path.empty() || !ReadWholeFile(path, out)) {
        out.clear();
        return false;
    }
    // A photo that cannot be decoded is served as it is, and nothing is stored for it. A
    // decompression bomb is not served at all: the phone would choke on it instead.
    std::string jpeg;
    switch (m_impl->maker.MakeJpeg(out, DecodeSide(width), DecodeSide(height), jpeg)) {
    case CHThumbMaker::Result::Made:
        out.swap(jpeg);
        if (!full) {
            WriteStored(*store, table, pid, out);
        }
        break;
    case CHThumbMaker::Result::Refused:
        out.clear();
        break;
    case CHThumbMaker::Result::Failed:
        break;
    }
    return !out.empty();
}

bool CHThumbStore::GetStoredThumbnail(Pid pid, int width, int height, std::string& out) {
    const std::string table = TableName(ClampSide(width), ClampSide(height));
    return ReadStored(*m_impl->OpenStore(pid), table, pid, out);
}

bool CHThumbStore::PutThumbnail(Pid pid, int width, int height, std::string_view bytes) {
    const std::string table = TableName(ClampSide(width), ClampSide(height));
    return WriteStored(*m_impl->OpenStore(pid), table, pid, bytes);
}

void CHThumbStore::DeleteThumbnails(Pid pid) {
    {
        std::lock_guard<std::mutex> guard(m_impl->listLock);
        m_impl->delivered.erase(pid);
    }
    std::shared_ptr<ISQLite3> store = m_impl->OpenStore(pid);
    for (const std::string& table : SizeTables(*store)) {
        store->Exec("DELETE FROM '" + table + "' WHERE pid = ?", {int64_t{pid}});
    }
}

int CHThumbStore::RequestThumbnail(const ThumbRequest& request) {
    if (m_impl->stopping) {
        return 1;
    }
    ThumbRequest queued = request;
    queued.width = ClampSide(request.width);
    queued.height = ClampSide(request.height);
    {
        std::lock_guard<std::mutex> guard(m_impl->queueLock);
        m_impl->queue[queued.pid][{queued.width, queued.height}].push_back(queued);
    }
    Impl* impl = m_impl.get();
    for (int i = 0; i < kWorkerCount; ++i) {
        if (impl->workers[static_cast<size_t>(i)].Start([impl, i] { impl->Work(i); })) {
            break;
        }
    }
    return 1;
}

int CHThumbStore::CancelThumbnailRequest(const ThumbRequest& request) {
    ThumbRequest queued = request;
    queued.width = ClampSide(request.width);
    queued.height = ClampSide(request.height);
    std::lock_guard<std::mutex> guard(m_impl->queueLock);
    auto pidIt = m_impl->queue.find(queued.pid);
    if (pidIt == m_impl->queue.end()) {
        return 1;
    }
    auto sizeIt = pidIt->second.find({queued.width, queued.height});
    if (sizeIt == pidIt->second.end()) {
        return 1;
    }
    auto& requests = sizeIt->second;
    for (auto it = requests.begin(); it != requests.end(); ++it) {
        if (*it == queued) {
            requests.erase(it);
            break;
        }
    }
    return 1;
}

void CHThumbStore::CloseStores() {
    std::map<int, std::shared_ptr<ISQLite3>> closing;
    {
        std::lock_guard<std::mutex> guard(m_impl->storeLock);
        closing.swap(m_impl->stores);
    }
    // Each store closes when its last user lets it go: here, or when a running request ends.
}

void CHThumbStore::Shutdown() {
    m_impl->stopping = true;
    {
        std::lock_guard<std::mutex> guard(m_impl->queueLock);
        m_impl->queue.clear();
    }
    for (CWorkerSlot& worker : m_impl->workers) {
        worker.Join();
    }
}
