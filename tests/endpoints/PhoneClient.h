#pragma once
// A scripted phone: one request per connection over a real socket, from a chosen local address
// (127.0.0.2 stands for another machine on the network, so the authorisation gate applies).

#include <chrono>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct PhoneAnswer {
    bool closedSilently = false; // the server closed without sending a byte
    std::string raw;             // every byte received
    std::string statusLine;      // "HTTP/1.1 200 OK"
    std::vector<std::pair<std::string, std::string>> headers; // in the order sent
    std::string body;

    int Status() const;
    // "" when absent.
    std::string Header(std::string_view name) const;
    std::vector<std::string> HeaderNames() const;
};

class PhoneClient {
public:
    PhoneClient(int port, std::string fromAddress = "127.0.0.2");

    // Sends "GET target HTTP/1.1" (or POST with the body and its Content-Length).
    PhoneAnswer Get(const std::string& target) const;
    PhoneAnswer Post(const std::string& target, std::string_view body) const;
    // Sends the bytes as they are.
    PhoneAnswer Raw(std::string_view request) const;

    int Port() const { return m_port; }

    static PhoneAnswer Parse(std::string raw);

private:
    std::string HostHeader() const;
    int m_port;
    std::string m_from;
};

// Query-safe text: every byte outside [A-Za-z0-9-_.~] as %XX.
std::string PercentEncode(std::string_view text);
