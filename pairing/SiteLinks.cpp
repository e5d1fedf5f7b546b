#include "pairing/SiteLinks.h"

#include "pairing/WebAppLink.h"

#ifndef VELLUMO_SITE_ADDRESS
#define VELLUMO_SITE_ADDRESS ""
#endif
#ifndef VELLUMO_USAGE_ADDRESS
#define VELLUMO_USAGE_ADDRESS ""
#endif
#ifndef VELLUMO_APP_STORE_ADDRESS
#define VELLUMO_APP_STORE_ADDRESS ""
#endif

std::string ConfiguredSiteAddress(SiteLink which) {
    switch (which) {
    case SiteLink::ProductSite:
        return VELLUMO_SITE_ADDRESS;
    case SiteLink::UsagePage:
        return VELLUMO_USAGE_ADDRESS;
    case SiteLink::AppStore:
        return VELLUMO_APP_STORE_ADDRESS;
    case SiteLink::AppStoreWizard: {
        std::string store = VELLUMO_APP_STORE_ADDRESS;
        if (!store.empty() && store.back() != '/') {
            store += '/';
        }
        return store;
    }
    }
    return {};
}

std::string SiteAddress(SiteLink which, const std::string& ip, int port) {
    std::string configured = ConfiguredSiteAddress(which);
    if (!configured.empty()) {
        return configured;
    }
    std::string app = WebAppAddress(ip, port);
    if (app.empty()) {
        return {};
    }
    switch (which) {
    case SiteLink::ProductSite:
    case SiteLink::AppStore:
        return app;
    case SiteLink::UsagePage:
        return app + "/help.html";
    case SiteLink::AppStoreWizard:
        return app + "/";
    }
    return {};
}
