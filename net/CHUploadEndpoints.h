#pragma once
// "/verify" (which photo tokens the library already holds) and "/import" (one photo per
// request, or a report of a photo the phone believes is already on the PC).

#include "net/BackupProgress.h"
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
    // How long a received photo may take to be stored before the phone is told "failed" (it
    // sends the photo again later; a photo stored meanwhile is then recognised).
    static constexpr std::chrono::seconds kStoreTimeout{60};

    void HandleVerify(const HttpRequest& request, HttpResponse& response);
    // A photo is answered "ok" only once the library has stored it (or recognised it as one it
    // holds); the answer is sent when its import completes, without holding a thread.
    void HandleImport(const HttpRequest& request, HttpResponse& response);

    // The progress record of an "/import" request's query.
    static BackupProgress ProgressOf(const HttpRequest& request);
    // The photo time carried by a token: Base64 of four "|"-separated fields, the third being
    // seconds since 1970. Nothing for any other shape.
    static std::optional<int64_t> TokenTime(std::string_view token);
    // Whether this photo is the run's last: the float number compared with the total read as
    // an unsigned number.
    static bool IsLast(float current, int32_t total);

private:
    std::string ReceivePhoto(const HttpRequest& request, BackupProgress& record,
                             HttpResponse& response);
    std::string ReportPhoto(const HttpRequest& request, BackupProgress& record);
};
