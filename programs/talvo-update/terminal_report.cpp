#include "programs/talvo-update/terminal_report.h"

#include <cstdio>
#include <ctime>

#include "firmware/firm_file.h"
#include "programs/talvo-update/terminal_exit_codes.h"

namespace talvo::terminal {

const char* ModeName(int deviceMode) {
    switch (deviceMode) {
        case 0:
            return "none";
        case 1:
            return "normal";
        case 2:
            return "update";
        default:
            return "unknown";
    }
}

Json VersionsObject(const std::array<std::string, 3>& versions) {
    Json object = Json::object();
    for (std::size_t slot = 0; slot < versions.size(); ++slot) {
        const std::string& version = versions[slot];
        object[ImageTypeLabel(static_cast<std::int32_t>(slot))] =
            version.empty() || version == "---" ? Json(nullptr) : Json(version);
    }
    return object;
}

Json StatusObject(const StatusFacts& facts) {
    return {
        {"mode", ModeName(facts.mode)},
        {"found", facts.mode > 0},
        {"opened", facts.opened},
        {"interrupted_update", facts.mode == 2},
        {"device_versions", VersionsObject(facts.deviceVersions)},
        {"package_versions", VersionsObject(facts.packageVersions)},
        {"update_needed", facts.updateNeeded},
        {"exit_code", facts.exitCode},
        {"exit_meaning", ExitCodeMeaning(facts.exitCode)},
    };
}

JsonStamp::JsonStamp() : origin_(std::chrono::steady_clock::now()) {}

std::string JsonStamp::Line(Json event) const {
    const auto now = std::chrono::system_clock::now();
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    // std::gmtime's result is shared: the console calls this under its lock.
    char text[40] = "";
    if (const std::tm* utc = std::gmtime(&seconds)) {
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", utc);
    }
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "%s.%03dZ", text, static_cast<int>(ms % 1000));
    event["time"] = stamp;
    event["elapsed_ms"] = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now() - origin_)
                              .count();
    return event.dump();
}

}  // namespace talvo::terminal
