#include "WarningLog.h"

namespace korvotest {

WarningLog::WarningLog() {
    handler = g_log_set_handler(
        nullptr, GLogLevelFlags(G_LOG_LEVEL_WARNING | G_LOG_FLAG_FATAL | G_LOG_FLAG_RECURSION),
        Record, this);
}

WarningLog::~WarningLog() {
    g_log_remove_handler(nullptr, handler);
}

void WarningLog::Record(const gchar*, GLogLevelFlags, const gchar* message, gpointer self) {
    auto* log = static_cast<WarningLog*>(self);
    std::lock_guard<std::mutex> guard(log->lock);
    log->warnings.emplace_back(message ? message : "");
}

std::vector<std::string> WarningLog::All() {
    std::lock_guard<std::mutex> guard(lock);
    return warnings;
}

std::vector<std::string> WarningLog::With(const std::string& part) {
    std::lock_guard<std::mutex> guard(lock);
    std::vector<std::string> found;
    for (const std::string& w : warnings)
        if (w.find(part) != std::string::npos) found.push_back(w);
    return found;
}

void WarningLog::Clear() {
    std::lock_guard<std::mutex> guard(lock);
    warnings.clear();
}

}  // namespace korvotest
