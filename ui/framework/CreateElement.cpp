#include "ui/framework/CreateElement.h"

#include "ui/framework/UIButton.h"
#include "ui/framework/UICheckBox.h"
#include "ui/framework/UICheckBoxEx.h"
#include "ui/framework/UIDropButton.h"
#include "ui/framework/UIEditBox.h"
#include "ui/framework/UIHeader.h"
#include "ui/framework/UILabel.h"
#include "ui/framework/UIListView.h"
#include "ui/framework/UIPane.h"
#include "ui/framework/UIProgress.h"
#include "ui/framework/UIRadioBox.h"
#include "ui/framework/UIScrollBar.h"
#include "ui/framework/UITabCtrl.h"
#include "ui/framework/UIToolBar.h"

std::unique_ptr<UIObject> CreateElement(int typeCode) {
    switch (typeCode) {
    case kTypeObject:
        return std::make_unique<UIObject>();
    case kTypePane:
        return std::make_unique<UIPane>();
    case kTypeButton:
        return std::make_unique<UIButton>();
    case kTypeToolBar:
        return std::make_unique<UIToolBar>();
    case kTypeTabCtrl:
        return std::make_unique<UITabCtrl>();
    case kTypeListView:
        return std::make_unique<UIListView>();
    case kTypeScrollBar:
        return std::make_unique<UIScrollBar>();
    case kTypeHeader:
        return std::make_unique<UIHeader>();
    case kTypeLabel:
        return std::make_unique<UILabel>();
    case kTypeCheckBox:
        return std::make_unique<UICheckBox>();
    case kTypeCheckBoxEx:
        return std::make_unique<UICheckBoxEx>();
    case kTypeRadioBox:
        return std::make_unique<UIRadioBox>();
    case kTypeProgress:
        return std::make_unique<UIProgress>();
    case kTypeDropButton:
        return std::make_unique<UIDropButton>();
    case kTypeEditBox:
        return std::make_unique<UIEditBox>();
    default:
        return nullptr;
    }
}
