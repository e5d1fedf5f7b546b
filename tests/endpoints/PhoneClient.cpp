#include "PhoneClient.h"

#include "tests/support/TestConnection.h"

#include <cstdio>

int PhoneAnswer::Status() const {
    int status = 0;
    std::sscanf(statusLine.c_str(), "HTTP/1.1 %d", &status);
    return status;
}

std::string PhoneAnswer::Header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (key == name) {
            return value;
        }
    }
    return {};
}

std::vector<std::string> PhoneAnswer::HeaderNames() const {
    std::vector<std::string> names;
    for (const auto& header : headers) {
        names.push_back(header.first);
    }
    return names;
}

PhoneClient::PhoneClient(int port, std::string fromAddress)
    : m_port(port), m_from(std::move(fromAddress)) {}

PhoneAnswer PhoneClient::Parse(std::string raw) {
    PhoneAnswer answer;
    answer.raw = std::move(raw);
    answer.closedSilently = answer.raw.empty();
    size_t headEnd = answer.raw.find("\r\n\r\n");
    if (headEnd == std::string::npos) {
        return answer;
    }
    std::string_view head(answer.raw.data(), headEnd + 2);
    size_t lineEnd = head.find("\r\n");
    answer.statusLine = std::string(head.substr(0, lineEnd));
    for (size_t at = lineEnd + 2; at < head.size();) {
        size_t end = head.find("\r\n", at);
        std::string_view line = head.substr(at, end - at);
        size_t colon = line.find(": ");
        if (colon != std::string_view::npos) {
            answer.headers.emplace_back(std::string(line.substr(0, colon)),
                                        std::string(line.substr(colon + 2)));
        }
        at = end + 2;
    }
    answer.body = answer.raw.substr(headEnd + 4);
    return answer;
}

PhoneAnswer PhoneClient::Raw(std::string_view request) const {
    return Parse(Exchange(m_port, request, m_from.c_str(), std::chrono::seconds(60)));
}

// The address the phone connected to, as a phone's HTTP stack names it.
std::string PhoneClient::HostHeader() const {
    return "127.0.0.1:" + std::to_string(m_port);
}

PhoneAnswer PhoneClient::Get(const std::string& target) const {
    return Raw("GET " + target + " HTTP/1.1\r\nHost: " + HostHeader() + "\r\n\r\n");
}

PhoneAnswer PhoneClient::Post(const std::string& target, std::string_view body) const {
    std::string request = "POST " + target + " HTTP/1.1\r\nHost: " + HostHeader() +
                          "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    request.append(body);
    return Raw(request);
}

std::string PercentEncode(std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '_' || c == '.' || c == '~') {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}
