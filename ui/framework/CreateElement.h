#pragma once
// Makes a control from its element type code.

#include "ui/framework/UIObject.h"

#include <memory>

// Null for codes without a factory-made control (the frame window, unknown codes).
std::unique_ptr<UIObject> CreateElement(int typeCode);
