#include "net/HttpRequest.h"

namespace {

const std::string kEmpty;

} // namespace

const std::string& HttpRequest::Query(std::string_view key) const {
    auto it = query.find(key);
    return it == query.end() ? kEmpty : it->second;
}

bool HttpRequest::HasQuery(std::string_view key) const {
    return query.find(key) != query.end();
}

const std::string& HttpRequest::Header(std::string_view name) const {
    std::string lower(name);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    auto it = headers.find(lower);
    return it == headers.end() ? kEmpty : it->second;
}
