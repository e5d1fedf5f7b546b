#pragma once
// Data compiled into the program, found by resource type and id.

#include <string>
#include <string_view>

// Registers a compiled-in resource (called by the generated resource tables at start-up).
void RegisterResource(std::string_view type, int id, std::string_view bytes);
// Copies the resource's bytes into out (cleared first); true when out is non-empty.
bool LoadResourceBytes(std::string_view type, int id, std::string& out);
