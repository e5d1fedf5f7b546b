// vellumo-cli thumb: the thumbnail the store makes for a photo file, one file or many at once.

#include "library/CHThumbStore.h"
#include "media/CHHeifDecoder.h"
#include "platform/FileSystem.h"
#include "tools/cli/CliCommand.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

bool ParseSide(const std::string& text, int& value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end;
}

// Reads, fits and encodes one photo; the message says why it failed.
bool MakeOne(const fs::path& input, int width, int height, const fs::path& output,
             std::string& message) {
    std::string photo;
    if (!ReadWholeFile(input, photo)) {
        message = "cannot read";
        return false;
    }
    std::string jpeg;
    if (!CHThumbStore::MakeThumbnail(photo, width, height, jpeg)) {
        message = "not an image that can be decoded";
        if (CHImageDecoder::Sniff(photo) == ImageFormat::Heif &&
            !CHHeifDecoder::LastError().empty()) {
            message += " (" + CHHeifDecoder::LastError() + ")";
        }
        return false;
    }
    if (!WriteWholeFile(output, jpeg)) {
        message = "cannot write " + output.string();
        return false;
    }
    return true;
}

// Output names follow the inputs' names with ".jpg"; a name used twice gets "-2", "-3", ...
std::vector<fs::path> OutputNames(const fs::path& folder, const std::vector<std::string>& inputs) {
    std::vector<fs::path> names;
    std::set<std::string> used;
    for (const std::string& input : inputs) {
        std::string stem = fs::path(input).stem().string();
        std::string name = stem + ".jpg";
        for (int n = 2; used.count(name) != 0; ++n) {
            name = stem + "-" + std::to_string(n) + ".jpg";
        }
        used.insert(name);
        names.push_back(folder / name);
    }
    return names;
}

int RunBatch(const std::vector<std::string>& args) {
    int width = 0;
    int height = 0;
    if (args.size() < 5 || !ParseSide(args[2], width) || !ParseSide(args[3], height)) {
        std::fprintf(stderr, "usage: vellumo-cli thumb --batch OUTDIR WIDTH HEIGHT FILE...\n");
        return 2;
    }
    const fs::path folder = args[1];
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (!fs::is_directory(folder, ec)) {
        std::fprintf(stderr, "vellumo-cli thumb: cannot create '%s'\n", folder.c_str());
        return 1;
    }
    const std::vector<std::string> inputs(args.begin() + 4, args.end());
    const std::vector<fs::path> outputs = OutputNames(folder, inputs);
    std::vector<std::string> errors(inputs.size());
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i = next++; i < inputs.size(); i = next++) {
            if (!MakeOne(inputs[i], width, height, outputs[i], errors[i]) && errors[i].empty()) {
                errors[i] = "failed";
            }
        }
    };
    const size_t threads =
        std::min<size_t>(std::max(1u, std::thread::hardware_concurrency()), inputs.size());
    std::vector<std::thread> pool;
    for (size_t t = 1; t < threads; ++t) {
        pool.emplace_back(work);
    }
    work();
    for (std::thread& thread : pool) {
        thread.join();
    }
    int status = 0;
    for (size_t i = 0; i < inputs.size(); ++i) {
        if (!errors[i].empty()) {
            std::fprintf(stderr, "vellumo-cli thumb: %s: %s\n", inputs[i].c_str(),
                         errors[i].c_str());
            status = 1;
        }
    }
    return status;
}

int RunThumb(const std::vector<std::string>& args) {
    if (!args.empty() && args[0] == "--batch") {
        return RunBatch(args);
    }
    int width = 0;
    int height = 0;
    if (args.size() != 4 || !ParseSide(args[1], width) || !ParseSide(args[2], height)) {
        std::fprintf(stderr, "usage: vellumo-cli thumb FILE WIDTH HEIGHT OUT.jpg\n"
                             "       vellumo-cli thumb --batch OUTDIR WIDTH HEIGHT FILE...\n");
        return 2;
    }
    std::string message;
    if (!MakeOne(args[0], width, height, args[3], message)) {
        std::fprintf(stderr, "vellumo-cli thumb: %s: %s\n", args[0].c_str(), message.c_str());
        return 1;
    }
    return 0;
}

const CliRegistration kRegistration{
    "thumb",
    "thumb FILE WIDTH HEIGHT OUT.jpg   write the stored thumbnail of a photo (32767: free side)\n"
    "  vellumo-cli thumb --batch OUTDIR WIDTH HEIGHT FILE...   the same for many files, all "
    "cores",
    &RunThumb};

} // namespace
