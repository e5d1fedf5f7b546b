#include "net/CHUploadEndpoints.h"

#include "library/IDBCenter.h"
#include "media/Base64.h"
#include "media/JsonText.h"
#include "media/TextUtil.h"
#include "net/QueryNumbers.h"
#include "net/UploadTempFile.h"
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

CHUploadEndpoints::CHUploadEndpoints(fs::path tempRoot) : m_tempRoot(std::move(tempRoot)) {
    CHUploadJanitor::RemoveLeftovers(TempRoot(), kLeftoverAge);
}

fs::path CHUploadEndpoints::TempRoot() const {
    return m_tempRoot.empty() ? UploadTempRoot() : m_tempRoot;
}

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

void CHUploadEndpoints::SweepTempFiles() {
    IDBCenter* db = GetDBCenter();
    m_janitor.Sweep(
        [db](const std::string& token) { return db != nullptr && db->FindPidByMd5(token) != 0; });
}

void CHUploadEndpoints::HandleVerify(const HttpRequest& request, HttpResponse& response) {
    SweepTempFiles();
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
    SweepTempFiles();
    BackupProgress record = ProgressOf(request);
    std::string status =
        request.body.empty() ? ReportPhoto(request, record) : ReceivePhoto(request, record);
    Json::Value document(Json::objectValue);
    document["status"] = status;
    response.contentType = "text/html";
    response.body = JsonStyled(document);
}

std::string CHUploadEndpoints::ReceivePhoto(const HttpRequest& request, BackupProgress& record) {
    const std::string& token = request.Query("vmd5");
    const int32_t current = ParseInt32(request.Query("cur"));
    std::string name = SafeUploadName(request.Query("name"));
    if (name.empty()) {
        name = FallbackUploadName();
    }
    IDBCenter* db = GetDBCenter();
    IMainWnd* mainWnd = GetMainWnd();
    UploadTempFile temp(TempRoot(), name);
    if (mainWnd == nullptr || !temp.Write(request.body)) {
        // Nothing arrived that the library could take: report it like a photo not sent.
        record.current -= 0.5f;
        NotifyProgress(record);
        return kStatusFailed;
    }
    if (std::optional<int64_t> taken = TokenTime(token)) {
        temp.SetTimes(*taken);
    }
    NotifyProgress(record);

    CHUploadJanitor::HandOver handOver;
    handOver.folder = temp.Folder();
    handOver.file = temp.File();
    handOver.token = token;
    handOver.tokenKnownBefore = db != nullptr && !token.empty() && db->FindPidByMd5(token) != 0;
    handOver.begin = m_janitor.BeginHandOver();
    mainWnd->ImportFileWithProgress(temp.File(), record.deviceKey, token);
    temp.Release();
    m_janitor.Track(std::move(handOver));

    if (db != nullptr) {
        db->RecordImport(record.deviceKey, current,
                         RunBytes(record, static_cast<int64_t>(request.body.size())),
                         record.elapsed, IsLast(record.current, record.total));
    }
    return kStatusOk;
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
