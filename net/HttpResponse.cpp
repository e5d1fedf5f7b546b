#include "net/HttpResponse.h"

void HttpResponse::SetHeader(std::string_view name, std::string_view value) {
    for (auto& header : headers) {
        if (header.first == name) {
            header.second.assign(value);
            return;
        }
    }
    headers.emplace_back(std::string(name), std::string(value));
}
