#pragma once
// The pairing password's rule as the wizard and the settings page show it: at most 20
// characters, never empty; the hint under the box says which, in grey or in warning orange.

#include "ui/framework/UILabel.h"

#include <string>

inline constexpr int kPasswordMaxLength = 20;
inline constexpr const char* kPasswordHint = "20位以内";
inline constexpr const char* kPasswordEmptyHint = "密码20位以内, 不能为空";
inline constexpr SkinColor kPasswordHintColor = 0x4C4F52;
inline constexpr SkinColor kPasswordWarningColor = 0x3A6BED;

// Shows the hint for password in label; true when the password may be stored (not empty).
inline bool ShowPasswordHint(UILabel& label, const std::string& password) {
    bool empty = password.empty();
    label.SetText(empty ? kPasswordEmptyHint : kPasswordHint);
    label.SetTextColor(empty ? kPasswordWarningColor : kPasswordHintColor);
    return !empty;
}
