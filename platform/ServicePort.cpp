#include "platform/ServicePort.h"

#include <cstdlib>

int ServicePort() {
    const char* text = std::getenv("VELLUMO_PORT");
    if (text == nullptr || *text == '\0') {
        return kDefaultServicePort;
    }
    long value = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9' || value > 65535) {
            return kDefaultServicePort;
        }
        value = value * 10 + (*p - '0');
    }
    return (value >= 1 && value <= 65535) ? static_cast<int>(value) : kDefaultServicePort;
}
