#pragma once
// The live element tree as JSON, for tests and bug reports: every element's kind, rectangle,
// visibility and texts, plus what the panels show (header, devices with their progress, the
// QR bubble's payload).

#include <string>

class UIObject;

std::string DumpElementTree(UIObject& root);
