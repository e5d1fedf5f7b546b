#pragma once

// The skin resource's interface; its operations arrive with the skinned user interface.
class IResource {
protected:
    ~IResource() = default;
};
