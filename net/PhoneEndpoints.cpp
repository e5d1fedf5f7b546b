#include "net/PhoneEndpoints.h"

#include "media/JsonText.h"
#include "net/CHBrowseEndpoints.h"
#include "net/CHPairingEndpoints.h"
#include "net/CHUploadEndpoints.h"
#include "net/CHWebServer.h"

#include <memory>
#include <utility>

namespace {

// Runs a handler so that nothing it throws (the JSON library throws on misuse) leaves it: the
// caller then gets the given answer instead.
template <class Object, class Method>
CHWebServer::Handler Guarded(std::shared_ptr<Object> object, Method method, HttpResponse fallback) {
    return [object = std::move(object), method,
            fallback = std::move(fallback)](const HttpRequest& request, HttpResponse& response) {
        try {
            ((*object).*method)(request, response);
        } catch (...) {
            response = fallback;
        }
    };
}

HttpResponse JsonAnswer(int status, const Json::Value& document) {
    HttpResponse response;
    response.status = status;
    response.contentType = "text/html";
    response.body = JsonStyled(document);
    return response;
}

HttpResponse StatusAnswer(int status, const char* value) {
    Json::Value document(Json::objectValue);
    document["status"] = value;
    return JsonAnswer(status, document);
}

HttpResponse ImageAnswer(bool withFileHeaders) {
    HttpResponse response;
    response.contentType = "image/jpeg";
    if (withFileHeaders) {
        response.SetHeader("FileName", "");
        response.SetHeader("FileTime", "0");
    }
    return response;
}

} // namespace

void RegisterPhoneEndpoints(CHWebServer& server) {
    auto pairing = std::make_shared<CHPairingEndpoints>();
    auto upload = std::make_shared<CHUploadEndpoints>();
    auto browse = std::make_shared<const CHBrowseEndpoints>();

    HttpResponse closed;
    closed.closeWithoutResponse = true;
    const HttpResponse null = JsonAnswer(200, Json::Value());

    server.AddOpenRoute("/echo", Guarded(pairing, &CHPairingEndpoints::HandleEcho, closed));
    server.AddOpenRoute("/echo2", Guarded(pairing, &CHPairingEndpoints::HandleEcho2,
                                          JsonAnswer(403, Json::Value())));
    server.AddRoute("/auth",
                    Guarded(pairing, &CHPairingEndpoints::HandleAuth, StatusAnswer(403, "failed")));

    server.AddRoute("/verify", Guarded(upload, &CHUploadEndpoints::HandleVerify,
                                       JsonAnswer(200, Json::Value(Json::arrayValue))));
    server.AddRoute("/import",
                    Guarded(upload, &CHUploadEndpoints::HandleImport, StatusAnswer(200, "failed")));

    server.AddRoute("/devices", Guarded(browse, &CHBrowseEndpoints::HandleDevices, null));
    server.AddRoute("/album", Guarded(browse, &CHBrowseEndpoints::HandleAlbum, null));
    server.AddRoute("/thumb", Guarded(browse, &CHBrowseEndpoints::HandleThumb, ImageAnswer(false)));
    server.AddRoute("/time", Guarded(browse, &CHBrowseEndpoints::HandleTime, null));
    server.AddRoute("/date", Guarded(browse, &CHBrowseEndpoints::HandleDate, null));
    server.AddRoute("/image", Guarded(browse, &CHBrowseEndpoints::HandleImage, ImageAnswer(true)));
    server.AddRoute("/exif", Guarded(browse, &CHBrowseEndpoints::HandleExif, null));
}
