#pragma once
// The addresses the desktop's links and app QR codes lead to: the product web site, its usage
// page and the phone app's download page. Each is a build setting (CMake cache variables
// VELLUMO_SITE_ADDRESS, VELLUMO_USAGE_ADDRESS, VELLUMO_APP_STORE_ADDRESS); left empty, the
// default, it is one of this service's own pages for phone browsers, built from the PC's current
// address and port, so every link works without any outside server.

#include <string>

enum class SiteLink {
    ProductSite,    // the about page's link button
    UsagePage,      // the help page's "查看更多"
    AppStore,       // the about page's download code
    AppStoreWizard, // the wizard's store button and code: the same page, written with a final "/"
};

// The configured address for which, or the service's own page at ip:port; empty when nothing is
// configured and there is no usable address or port (a link to nowhere is not shown as one).
std::string SiteAddress(SiteLink which, const std::string& ip, int port);

// The configured address alone (empty when the build leaves it to the service's own pages).
std::string ConfiguredSiteAddress(SiteLink which);
