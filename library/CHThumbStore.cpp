#include "library/CHThumbStore.h"

struct CHThumbStore::Impl {
    ImagePathFn imagePathOf;
};

CHThumbStore::CHThumbStore(ImagePathFn imagePathOf) : m_impl(std::make_unique<Impl>()) {
    m_impl->imagePathOf = std::move(imagePathOf);
}
CHThumbStore::~CHThumbStore() = default;
void CHThumbStore::SetFolder(const fs::path&) {}
bool CHThumbStore::GetThumbnail(Pid, int, int, std::string& out) {
    out.clear();
    return false;
}
bool CHThumbStore::GetStoredThumbnail(Pid, int, int, std::string& out) {
    out.clear();
    return false;
}
bool CHThumbStore::PutThumbnail(Pid, int, int, std::string_view) { return false; }
void CHThumbStore::DeleteThumbnails(Pid) {}
int CHThumbStore::RequestThumbnail(const ThumbRequest&) { return 1; }
int CHThumbStore::CancelThumbnailRequest(const ThumbRequest&) { return 1; }
void CHThumbStore::CloseStores() {}
void CHThumbStore::Shutdown() {}
