#pragma once
// "/verify" (which photo tokens the library already holds) and "/import" (one photo per
// request, or a report of a photo the phone believes is already on the PC).

#include "net/BackupProgress.h"
#include "net/CHUploadJanitor.h"
#include "net/HttpRequest.h"
#include "net/HttpResponse.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

class IDBCenter;

class CHUploadEndpoints {
public:
    // Leftovers of an earlier run younger than this are left alone: another instance (a test,
    // a second user) may still be filling them.
    static constexpr std::chrono::seconds kLeftoverAge{600};

    // tempRoot: where received files go; empty means UploadTempRoot() at each request. Sweeps
    // the leftovers of earlier runs from it.
    explicit CHUploadEndpoints(fs::path tempRoot = {});

    void HandleVerify(const HttpRequest& request, HttpResponse& response);
    void HandleImport(const HttpRequest& request, HttpResponse& response);

    // The progress record of an "/import" request's query.
    static BackupProgress ProgressOf(const HttpRequest& request);
    // The photo time carried by a token: Base64 of four "|"-separated fields, the third being
    // seconds since 1970. Nothing for any other shape.
    static std::optional<int64_t> TokenTime(std::string_view token);
    // Whether this photo is the run's last: the float number compared with the total read as
    // an unsigned number.
    static bool IsLast(float current, int32_t total);

    // Uploads handed to the library whose temporary files are not yet removed.
    size_t PendingTempFiles() const { return m_janitor.Pending(); }
    // Removes the temporary files of uploads the library is through with.
    void SweepTempFiles();

private:
    std::string ReceivePhoto(const HttpRequest& request, BackupProgress& record);
    std::string ReportPhoto(const HttpRequest& request, BackupProgress& record);
    fs::path TempRoot() const;

    const fs::path m_tempRoot;
    CHUploadJanitor m_janitor;
};
