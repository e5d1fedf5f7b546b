#pragma once
// Shared set-up for the library tests: a storage root in a temporary folder, the Trash redirected
// into it, UTC as the local zone, a notification hub that records what the library raises, and
// real JPEG files to import.

#include "library/CHDBCenter.h"
#include "shell/AccessPoints.h"
#include "shell/CNotifyHub.h"
#include "shell/IObserver.h"
#include "tests/support/TestDirs.h"
#include "tests/support/TestImages.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class RecordingObserver : public IObserver {
public:
    struct Event {
        int code;
        std::shared_ptr<const void> data;
    };
    void OnNotify(int code, const std::shared_ptr<const void>& data) override {
        std::lock_guard<std::mutex> guard(m_lock);
        m_events.push_back({code, data});
    }
    std::vector<Event> Take() {
        std::lock_guard<std::mutex> guard(m_lock);
        std::vector<Event> events;
        events.swap(m_events);
        return events;
    }

private:
    std::mutex m_lock;
    std::vector<Event> m_events;
};

class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        setenv("XDG_DATA_HOME", (m_dir / "xdg").c_str(), 1);
        m_root = m_dir / "root";
        fs::create_directories(m_root / "Repos");
        fs::create_directories(m_root / "Thumb");
        for (int code = 0; code <= 3; ++code) {
            m_hub.Subscribe(&m_observer, code);
        }
        PublishAccessPoints(nullptr, nullptr, nullptr, &m_hub);
    }
    void TearDown() override { ClearAccessPoints(); }

    // A library centre without the HTTP service, opened on the test root.
    std::unique_ptr<CHDBCenter> Open(const fs::path& root = {}) {
        auto db = std::make_unique<CHDBCenter>();
        db->SetServicePort(-1);
        EXPECT_EQ(db->OpenLibrary(root.empty() ? m_root : root), 1);
        return db;
    }

    // A JPEG in the "incoming" folder; each seed gives other pixels (another digest).
    fs::path MakePhoto(const std::string& name, uint32_t seed, const std::string& date = "",
                       const std::string& make = "", const std::string& model = "") {
        TestJpegOptions options;
        options.seed = seed;
        options.withExif = !date.empty() || !make.empty() || !model.empty();
        options.exif.dateTime = date;
        options.exif.make = make;
        options.exif.model = model;
        fs::path file = m_dir / "incoming" / name;
        EXPECT_TRUE(WriteTestJpeg(file, options));
        return file;
    }

    fs::path Repos() const { return m_root / "Repos"; }

    TempDir m_dir{"vellumo-lib"};
    fs::path m_root;
    CNotifyHub m_hub;
    RecordingObserver m_observer;
};
