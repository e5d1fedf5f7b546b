#include "shell/CUsageCounters.h"

#include "media/JsonText.h"

#include <string>

void CUsageCounters::Add(int key, int delta) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_counters[key] += delta;
}

void CUsageCounters::Set(int key, int value) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_counters[key] = value;
}

void CUsageCounters::AddItem(int /*key*/, const std::string& text) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_devices.insert(text);
}

Json::Value CUsageCounters::BuildReport(const std::string& pcId) const {
    Json::Value report(Json::objectValue);
    std::lock_guard<std::mutex> lock(m_lock);
    for (const auto& [key, value] : m_counters) {
        report[std::to_string(key)] = Json::Int64(value);
    }
    Json::Value devices(Json::arrayValue);
    for (const std::string& device : m_devices) {
        devices.append(device);
    }
    report["devices"] = devices;
    report["pcID"] = pcId;
    return report;
}

std::string CUsageCounters::ReportText(const std::string& pcId) const {
    return JsonStyled(BuildReport(pcId));
}
