// bench_updater unpack PACKAGE FOLDER       unpacks with Fernlift's unpacker; prints seconds
// bench_updater rollback FOLDER FILES       installs FILES new files into a fresh installation
//                                           below FOLDER, failing the last copy; prints the
//                                           seconds from that failure to the rolled-back state
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "updater/CHInstallTransaction.h"
#include "updater/CHPackageUnpacker.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

int Unpack(const fs::path& package, const fs::path& folder) {
    fs::create_directories(folder);
    CHPackageUnpacker unpacker;
    auto start = Clock::now();
    CHPackageUnpacker::Result result = unpacker.Unpack(package, folder);
    auto end = Clock::now();
    if (result != CHPackageUnpacker::Result::Ok) {
        std::fprintf(stderr, "unpack failed: %s\n", unpacker.Error().c_str());
        return 1;
    }
    std::printf("%.3f\n", Seconds(start, end));
    return 0;
}

int Rollback(const fs::path& folder, int files) {
    fs::path install = folder / "install";
    fs::path package = folder / "package";
    UpgradePlan plan;
    plan.installRoot = install;
    plan.packageRoot = package;
    std::string content(4096, 'n');
    for (int i = 0; i < files; ++i) {
        std::string name = "d" + std::to_string(i % 20) + "/f" + std::to_string(i) + ".bin";
        fs::create_directories((install / name).parent_path());
        fs::create_directories((package / name).parent_path());
        std::ofstream(install / name, std::ios::binary) << "old" << i;
        std::ofstream(package / name, std::ios::binary) << content;
        plan.copies.push_back({name, name});
    }
    CHInstallTransaction transaction(install);
    Clock::time_point failed{};
    size_t copies = 0;
    transaction.SetProgress([&](size_t done, size_t) { copies = done; });
    transaction.SetFaultHook([&](size_t) {
        // The last copy fails at its first change.
        if (copies + 1 == static_cast<size_t>(files)) {
            failed = Clock::now();
            return false;
        }
        return true;
    });
    auto start = Clock::now();
    CHInstallTransaction::Result result = transaction.Apply(plan);
    auto end = Clock::now();
    if (result != CHInstallTransaction::Result::RolledBack) {
        std::fprintf(stderr, "expected a rollback\n");
        return 1;
    }
    std::printf("%.3f %.3f\n", Seconds(failed, end), Seconds(start, failed));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "unpack" && argc == 4) {
        return Unpack(argv[2], argv[3]);
    }
    if (mode == "rollback" && argc == 4) {
        return Rollback(argv[2], std::atoi(argv[3]));
    }
    std::fprintf(stderr, "usage: bench_updater unpack PACKAGE FOLDER | rollback FOLDER FILES\n");
    return 2;
}
