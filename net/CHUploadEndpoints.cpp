#include "net/CHUploadEndpoints.h"

#include "library/IDBCenter.h"
#include "media/Base64.h"
#include "media/JsonText.h"
#include "media/TextUtil.h"
#include "net/QueryNumbers.h"
#include "net/UploadStaging.h"
#include "platform/FileSystem.h"
#include "shell/AccessPoints.h"
#include "shell/CNotifyHub.h"
#include "shell/IMainWnd.h"

#include <memory>

namespace {

constexpr char kStatusOk[] = "ok";
constexpr char kStatusDuplication[] = "duplication";
constexpr char kStatusFailed[] = "failed";

void NotifyProgress(const BackupProgress& record) {
    if (CNotifyHub* hub = GetNotifyHub()) {
        hub->Notify(NOTIFY_BACKUP_PROGRESS, std::make_shared<const BackupProgress>(record));
    }
}

// Bytes the run has moved so far as the app counts them: its average speed in KB/s times the
// seconds it has been running, plus this photo.
int64_t RunBytes(const BackupProgress& record, int64_t photoBytes) {
    return ClampedProductSum(record.speed, record.elapsed, 1024, photoBytes);
}

} // namespace

BackupProgress CHUploadEndpoints::ProgressOf(const HttpRequest& request) {
    BackupProgress record;
    record.deviceKey = request.Query("key");
    record.phase = BackupProgress::kPhaseTransfer;
    record.current = static_cast<float>(ParseInt32(request.Query("cur")));
    record.total = ParseInt32(request.Query("total"));
    record.speed = ParseInt32(request.Query("speed"));
    record.elapsed = ParseInt32(request.Query("time"));
    return record;
}

std::optional<int64_t> CHUploadEndpoints::TokenTime(std::string_view token) {
    std::vector<std::string> fields = SplitTextBar(Base64Decode(token));
    if (fields.size() != 4) {
        return std::nullopt;
    }
    return ParseInt64(fields[2]);
}

bool CHUploadEndpoints::IsLast(float current, int32_t total) {
    return current == static_cast<float>(static_cast<uint32_t>(total));
}

void CHUploadEndpoints::HandleVerify(const HttpRequest& request, HttpResponse& response) {
    Json::Value tokens;
    Json::Value known(Json::arrayValue);
    if (JsonParse(request.body, tokens) && tokens.isArray()) {
        if (IDBCenter* db = GetDBCenter()) {
            db->VerifyMd5List(tokens, known);
        }
    }
    response.contentType = "text/html";
    response.body = JsonStyled(known);
}

void CHUploadEndpoints::HandleImport(const HttpRequest& request, HttpResponse& response) {
    BackupProgress record = ProgressOf(request);
    std::string status = request.body.empty() ? ReportPhoto(request, record)
                                              : ReceivePhoto(request, record, response);
    Json::Value document(Json::objectValue);
    document["status"] = status;
    response.contentType = "text/html";
    response.body = JsonStyled(document);
}

std::string CHUploadEndpoints::ReceivePhoto(const HttpRequest& request, BackupProgress& record,
                                            HttpResponse& response) {
    const std::string& token = request.Query("vmd5");
    const int32_t current = ParseInt32(request.Query("cur"));
    std::string name = SafeUploadName(request.Query("name"));
    if (name.empty()) {
        name = FallbackUploadName();
    }
    IDBCenter* db = GetDBCenter();
    IMainWnd* mainWnd = GetMainWnd();
    // The run's counters are kept whatever becomes of this photo: the last photo of a backup
    // ends the run even when it cannot be stored.
    const BackupProgress received = record;
    auto recordRun = [&] {
        if (db != nullptr) {
            db->RecordImport(received.deviceKey, current,
                             RunBytes(received, static_cast<int64_t>(request.body.size())),
                             received.elapsed, IsLast(received.current, received.total));
        }
    };

    std::shared_ptr<UploadStaging> staging =
        mainWnd != nullptr ? UploadStaging::Open(mainWnd->GetRootPath()) : nullptr;
    auto upload = std::make_shared<StagedUpload>(staging, name);
    bool written = upload->Ok() && upload->Write(request.body);
    if (written) {
        if (std::optional<int64_t> taken = TokenTime(token)) {
            upload->SetTimes(*taken);
        }
        written = upload->Seal(record.deviceKey, token);
    }
    if (!written) {
        // Nothing arrived that the library could take: reported like a photo not sent.
        record.current -= 0.5f;
        NotifyProgress(record);
        recordRun();
        return kStatusFailed;
    }
    NotifyProgress(record);
    recordRun();

    // The answer waits for the library. The staged copy is removed once the library is through
    // with it: moved into the repository, recognised as a duplicate, or refused.
    response.answerTimeout = kStoreTimeout;
    response.answerLater = [mainWnd, upload, key = record.deviceKey,
                            token](HttpResponse::AnswerFn answer) mutable {
        const fs::path file = upload->File();
        mainWnd->ImportUpload(
            file, key, token,
            [upload = std::move(upload), answer = std::move(answer)](Pid pid) mutable {
                upload.reset();
                HttpResponse later;
                later.contentType = "text/html";
                Json::Value document(Json::objectValue);
                document["status"] = pid != 0 ? kStatusOk : kStatusFailed;
                later.body = JsonStyled(document);
                answer(later);
            });
    };
    // Sent only when the library has not answered in time.
    return kStatusFailed;
}

std::string CHUploadEndpoints::ReportPhoto(const HttpRequest& request, BackupProgress& record) {
    const std::string& token = request.Query("vmd5");
    const int32_t current = ParseInt32(request.Query("cur"));
    IDBCenter* db = GetDBCenter();
    Pid pid = db != nullptr && !token.empty() ? db->FindPidByMd5(token) : 0;
    if (pid != 0) {
        db->LinkDeviceImage(record.deviceKey, pid);
    }
    const BackupProgress reported = record;
    record.current -= 0.5f;
    NotifyProgress(record);
    if (pid == 0) {
        return kStatusFailed;
    }
    int64_t size = FileSize64(db->GetImagePath(pid));
    db->RecordImport(record.deviceKey, current, RunBytes(reported, size), reported.elapsed,
                     IsLast(reported.current, reported.total));
    return kStatusDuplication;
}
