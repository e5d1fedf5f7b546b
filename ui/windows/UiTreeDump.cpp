#include "ui/windows/UiTreeDump.h"

#include "ui/framework/UIButton.h"
#include "ui/framework/UICheckBox.h"
#include "ui/framework/UIEditBox.h"
#include "ui/framework/UIHyperLink.h"
#include "ui/framework/UILabel.h"
#include "ui/framework/UIObject.h"
#include "ui/windows/CXAppstoreQR.h"
#include "ui/windows/CXDevInfo.h"
#include "ui/windows/CXIntroduceWnd.h"
#include "ui/windows/CXPCInfo.h"
#include "ui/windows/CXQRCodeView.h"

#include <cxxabi.h>
#include <json/json.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

namespace {

std::string KindOf(const UIObject& element) {
    const char* mangled = typeid(element).name();
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> name(
        abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
    return status == 0 && name ? name.get() : mangled;
}

Json::Value RectOf(const CHRect& r) {
    Json::Value rect(Json::arrayValue);
    for (int v : {r.left, r.top, r.right - r.left, r.bottom - r.top}) {
        rect.append(v);
    }
    return rect;
}

void AddPanelFields(UIObject& element, Json::Value& node) {
    if (auto* devices = dynamic_cast<CXDevInfo*>(&element)) {
        node["header"] = devices->HeaderText();
        Json::Value items(Json::arrayValue);
        for (const auto& item : devices->Items()) {
            Json::Value entry;
            entry["name"] = item->name;
            entry["key"] = item->key;
            entry["count"] = item->count;
            entry["phase"] = item->phase;
            entry["expanded"] = item->expanded;
            entry["status"] = item->shortStatus;
            entry["detail"] = item->detail;
            entry["lastTime"] = item->lastTime;
            entry["rect"] = RectOf(item->rect);
            items.append(entry);
        }
        node["items"] = items;
    } else if (auto* pc = dynamic_cast<CXPCInfo*>(&element)) {
        node["name"] = pc->NameText();
        node["address"] = pc->AddressText();
        node["library"] = pc->LibraryText();
        node["busy"] = pc->IsBusy();
    } else if (auto* qr = dynamic_cast<CXQRCodeView*>(&element)) {
        node["payload"] = qr->QrText();
        node["qrRect"] = RectOf(qr->QrRect());
        node["captionRect"] = RectOf(qr->CaptionRect());
    } else if (auto* wizard = dynamic_cast<CXIntroduceWnd*>(&element)) {
        node["step"] = wizard->Step();
        node["busy"] = wizard->IsBusy();
        node["selected"] = wizard->SelectedDrive();
        Json::Value tiles(Json::arrayValue);
        const DriveList& drives = wizard->Drives();
        for (size_t i = 0; i < drives.drives.size(); ++i) {
            Json::Value tile;
            tile["name"] = drives.drives[i].name;
            tile["mount"] = drives.drives[i].mountPoint.string();
            tile["home"] = drives.drives[i].holdsHome;
            tile["rect"] = RectOf(wizard->TileRect(static_cast<int>(i)));
            tiles.append(tile);
        }
        node["tiles"] = tiles;
    } else if (auto* store = dynamic_cast<CXAppstoreQR*>(&element)) {
        node["payload"] = store->Address();
        node["qrRect"] = RectOf(store->QrRect());
    } else if (auto* check = dynamic_cast<UICheckBox*>(&element)) {
        node["text"] = check->Text();
        node["checked"] = check->IsChecked();
    } else if (auto* button = dynamic_cast<UIButton*>(&element)) {
        node["enabled"] = button->IsEnabled();
        node["text"] = button->Text();
    } else if (auto* edit = dynamic_cast<UIEditBox*>(&element)) {
        node["text"] = edit->Text();
    } else if (auto* label = dynamic_cast<UILabel*>(&element)) {
        node["text"] = label->Text();
    } else if (auto* link = dynamic_cast<UIHyperLink*>(&element)) {
        node["text"] = link->Text();
    }
}

Json::Value Describe(UIObject& element, bool parentVisible) {
    Json::Value node;
    bool visible = parentVisible && element.IsVisible();
    node["kind"] = KindOf(element);
    node["rect"] = RectOf(element.Rect());
    node["visible"] = visible;
    node["enabled"] = element.IsEnabled();
    node["id"] = element.Id();
    AddPanelFields(element, node);
    Json::Value children(Json::arrayValue);
    for (const auto& child : element.Children()) {
        children.append(Describe(*child, visible));
    }
    node["children"] = children;
    return node;
}

} // namespace

std::string DumpElementTree(UIObject& root) {
    Json::Value tree = Describe(root, true);
    if (INativeWindow* native = root.HostWindow()) {
        NativeRect frame = native->Frame();
        Json::Value window;
        window["x"] = frame.x;
        window["y"] = frame.y;
        window["width"] = frame.width;
        window["height"] = frame.height;
        window["shown"] = native->IsVisible();
        window["iconified"] = native->IsIconified();
        tree["window"] = window;
    }
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    writer["emitUTF8"] = true;
    return Json::writeString(writer, tree) + "\n";
}
