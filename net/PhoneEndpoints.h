#pragma once
// The endpoints the companion phone app calls: "/echo" and "/echo2" before the authorisation
// gate, "/auth", "/verify", "/import", "/devices", "/album", "/thumb", "/time", "/date",
// "/image" and "/exif" behind it.

class CHWebServer;

// Adds every phone route to the server. The handlers reach the library, the controller and the
// notification hub through the process-wide access points at request time.
void RegisterPhoneEndpoints(CHWebServer& server);
