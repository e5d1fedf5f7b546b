// bench_ui SKIN_PACKAGE [--idle]
// Prints, measured in the same run:
//   repaint  the median time of a full repaint of a 640 x 505 window built from the skin, and of
//            a plain cairo copy of a same-size ARGB32 surface, with their ratio;
//   hover    the area a hover change asks to repaint, against the whole window, and its time;
//   idle     (with --idle, needs DISPLAY) context switches of the whole process while a shown
//            window with no animation sits idle for 10 s.

#include "tests/ui/framework/FakePlatform.h"

#include "platform/gtk/GtkPlatform.h"
#include "ui/framework/UIButton.h"
#include "ui/framework/UICheckBox.h"
#include "ui/framework/UIFrameWindow.h"
#include "ui/framework/UIGeometry.h"
#include "ui/framework/UILabel.h"
#include "ui/framework/UIPane.h"
#include "ui/framework/UIProgress.h"
#include "ui/framework/UIResource.h"
#include "ui/framework/UIScrollBar.h"
#include "ui/framework/UISkinText.h"

#include <cairo.h>
#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 640, kHeight = 505;

using Clock = std::chrono::steady_clock;

template <class F> double MedianMicros(int runs, F&& run) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        auto start = Clock::now();
        run();
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// The main window's look: frame, title, system buttons, two panels' worth of controls.
void BuildWindow(UIFrameWindow& window, IResource& skin) {
    window.ApplySkin(&skin, "MainWindow");
    auto* title = window.Add<UIPane>();
    title->ApplySkin(&skin, "MainWindow/Title");
    title->SetLayout(13, 6, 94, 34);
    const char* captions[] = {"打开文件夹", "添加照片", "打开文件夹"};
    for (int i = 0; i < 3; ++i) {
        auto* button = window.Add<UIButton>();
        button->ApplySkin(&skin, "Buttons/Button");
        button->SetLayout(440, 80 + 47 * i, 115, 35);
        button->SetText(captions[i]);
    }
    for (int i = 0; i < 6; ++i) {
        auto* label = window.Add<UILabel>();
        label->ApplySkin(&skin, "Config/Label");
        label->SetLayout(165, 80 + 30 * i, 260, 24);
        label->SetText("电脑相册共 1234 张照片, 占用空间 5.6 GB");
    }
    auto* check = window.Add<UICheckBox>();
    check->ApplySkin(&skin, "MainWindow/Checkbox");
    check->SetLayout(165, 270, 130, 28);
    check->SetText("开机时自动运行");
    auto* progress = window.Add<UIProgress>();
    progress->SetStyles(skin.GetImageStyle("DeviceInfoPanel/ProgressBG", nullptr),
                        skin.GetImageStyle("DeviceInfoPanel/ProgressFG", nullptr));
    progress->SetLayout(85, 330, 310, 8);
    progress->SetPos(40);
    auto* bar = window.Add<UIScrollBar>(true);
    bar->ApplySkin(&skin, "ScrollBar/Vertical");
    bar->SetLayout(-20, 50, 13, 438);
    bar->SetRange(0, 900);
    bar->SetPage(448);
}

void RepaintFigures(IResource& skin) {
    FakePlatform platform;
    UIFrameWindow window;
    window.Create(kWidth, kHeight, true);
    BuildWindow(window, skin);
    const CHRect all{0, 0, kWidth, kHeight};
    window.RenderBuffer(all); // first use decodes the pictures
    double repaint = MedianMicros(200, [&] { window.RenderBuffer(all); });

    cairo_surface_t* source = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kWidth, kHeight);
    cairo_surface_t* target = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kWidth, kHeight);
    {
        // Real pixels: cairo skips copying a surface it knows to be clear.
        cairo_t* cr = cairo_create(source);
        cairo_pattern_t* gradient = cairo_pattern_create_linear(0, 0, kWidth, kHeight);
        cairo_pattern_add_color_stop_rgba(gradient, 0, 1, 0.5, 0.2, 0.9);
        cairo_pattern_add_color_stop_rgba(gradient, 1, 0.1, 0.3, 1, 0.6);
        cairo_set_source(cr, gradient);
        cairo_paint(cr);
        cairo_pattern_destroy(gradient);
        cairo_destroy(cr);
    }
    double copy = MedianMicros(200, [&] {
        cairo_t* cr = cairo_create(target);
        cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
        cairo_set_source_surface(cr, source, 0, 0);
        cairo_paint(cr);
        cairo_destroy(cr);
        cairo_surface_flush(target);
    });
    cairo_surface_destroy(source);
    cairo_surface_destroy(target);
    std::printf(
        "repaint  full 640x505 %.3f ms   cairo copy %.3f ms   ratio %.2f   (target < 4 ms)\n",
        repaint / 1000, copy / 1000, repaint / copy);

    // Hover onto the first button: only its rectangle is asked for, and repainted.
    auto* fake = static_cast<FakeWindow*>(window.Native());
    MoveMouse(window, 5, 300);
    fake->invalidated.clear();
    MoveMouse(window, 450, 90);
    CHRect dirty{};
    for (const NativeRect& r : fake->invalidated)
        dirty = RectUnion(dirty, RectFromNative(r));
    double hover = MedianMicros(200, [&] { window.RenderBuffer(dirty); });
    long area = static_cast<long>(RectWidth(dirty)) * RectHeight(dirty);
    std::printf("hover    dirty %dx%d at (%d,%d) = %.1f%% of the window, repainted in %.3f ms "
                "(%.1f%% of a full repaint)\n",
                RectWidth(dirty), RectHeight(dirty), dirty.left, dirty.top,
                100.0 * area / (kWidth * kHeight), hover / 1000, 100.0 * hover / repaint);
}

long ProcessContextSwitches() {
    long total = 0;
    DIR* tasks = opendir("/proc/self/task");
    if (!tasks)
        return -1;
    while (dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] == '.')
            continue;
        std::ifstream status(std::string("/proc/self/task/") + entry->d_name + "/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
                line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                total += std::stol(line.substr(line.find(':') + 1));
    }
    closedir(tasks);
    return total;
}

int IdleFigures(IResource& skin) {
    std::unique_ptr<INativePlatform> platform = CreateGtkPlatform();
    if (!platform) {
        std::fprintf(stderr, "idle: no display\n");
        return 1;
    }
    SetNativePlatform(platform.get());
    {
        UIFrameWindow window;
        window.Create(kWidth, kHeight, true);
        BuildWindow(window, skin);
        window.Native()->Show();
        // Let it map and paint.
        bool settled = false;
        uint64_t settle = platform->StartTimer(1000, [&] { settled = true; });
        platform->RunNestedUntil([&] { return settled; });
        platform->StopTimer(settle);
        long before = ProcessContextSwitches();
        bool done = false;
        uint64_t end = platform->StartTimer(10000, [&] { done = true; });
        platform->RunNestedUntil([&] { return done; });
        platform->StopTimer(end);
        long after = ProcessContextSwitches();
        std::printf("idle     %ld context switches in 10 s with the window shown (the loop's own "
                    "end-of-wait timer included; target: no periodic wake-ups)\n",
                    after - before);
    }
    SetNativePlatform(nullptr);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_ui SKIN_PACKAGE [--idle]\n");
        return 2;
    }
    UIResource skin;
    if (!skin.LoadFromFile(argv[1])) {
        std::fprintf(stderr, "cannot load the skin package %s\n", argv[1]);
        return 1;
    }
    SetDefaultUiFont(skin.GetDefaultFont());
    if (argc > 2 && std::strcmp(argv[2], "--idle") == 0)
        return IdleFigures(skin);
    RepaintFigures(skin);
    return 0;
}
