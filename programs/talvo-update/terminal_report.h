// The machine-readable side of talvo-update: the `status --json` object and
// the lines of `--progress=json`, built with nlohmann/json. The field names
// are an interface for scripts (documented in README.md): add fields, never
// rename or drop one.
#pragma once

#include <array>
#include <chrono>
#include <string>

#include <nlohmann/json.hpp>

namespace talvo::terminal {

// Objects keep their fields in the order they were written.
using Json = nlohmann::ordered_json;

// "none", "normal", "update" for the device modes 0, 1, 2; "unknown" else.
const char* ModeName(int deviceMode);

// {"Fwup": ..., "Normal": ..., "DspMain": ...}: every slot, the version as a
// string, null where there is none (not read, refused "---", no image).
Json VersionsObject(const std::array<std::string, 3>& versions);

// What `status` found out.
struct StatusFacts {
    int mode = 0;         // device mode: 0 none, 1 normal, 2 update
    bool opened = false;  // the device could be opened and read
    std::array<std::string, 3> deviceVersions;
    std::array<std::string, 3> packageVersions;
    bool updateNeeded = false;
    int exitCode = 0;
};

Json StatusObject(const StatusFacts& facts);

// Stamps the lines of the JSON progress stream: "time" (UTC, ISO 8601 with
// milliseconds) and "elapsed_ms" (since the stream began).
class JsonStamp {
  public:
    JsonStamp();
    // `event` with the two stamps added, as one line without its break.
    // Not thread-safe (one caller at a time).
    std::string Line(Json event) const;

  private:
    std::chrono::steady_clock::time_point origin_;
};

}  // namespace talvo::terminal
