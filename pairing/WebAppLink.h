#pragma once
// Where a phone's browser finds the backup page that Vellumo serves itself: the address shown
// as text, and the link for a QR code that also pairs the phone in one scan.

#include <string>

// "http://<ip>:<port>/app"; empty when there is no address (no network) or the port is not
// 1-65535, since a link to nowhere must not be shown as one.
std::string WebAppAddress(const std::string& ip, int port);

// The address with the pairing password in its fragment ("#pair=..."), which the browser keeps
// to itself: the page reads it, pairs and removes it from the address bar. The password is
// percent-encoded (every byte outside A-Z a-z 0-9 - _ . ~). Empty like WebAppAddress; without a
// password the plain address.
std::string WebAppPairingLink(const std::string& ip, int port, const std::string& password);
