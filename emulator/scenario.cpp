#include "emulator/scenario.h"

#include <functional>
#include <stdexcept>
#include <utility>

namespace talvo {

namespace {

struct Entry {
    const char* name;
    const char* description;
    std::function<void(Scenario&)> tune;
};

void SetVersions(Scenario& s, const char* updater, const char* main, const char* dsp) {
    s.device.versions[0] = updater;
    s.device.versions[1] = main;
    s.device.versions[3] = dsp;
}

const std::vector<Entry>& Entries() {
    static const std::vector<Entry> entries = {
        {"current", "normal mode, all versions 1.05 (older than the package)", [](Scenario&) {}},
        {"up-to-date", "normal mode, already running the package's 1.07: no update needed",
         [](Scenario& s) { SetVersions(s, "1.07", "1.07", "1.07"); }},
        {"outdated", "normal mode, all versions 1.00",
         [](Scenario& s) { SetVersions(s, "1.00", "1.00", "1.00"); }},
        {"mixed", "normal mode, main firmware 1.05 but DSP 1.03",
         [](Scenario& s) { SetVersions(s, "1.05", "1.05", "1.03"); }},
        {"update-mode", "already in update mode",
         [](Scenario& s) { s.startMode = TalvoMode::kUpdate; }},
        {"absent", "not plugged in until told",
         [](Scenario& s) { s.startMode = TalvoMode::kAbsent; }},
        {"busy", "the first 2 version reads answer busy (status 19)",
         [](Scenario& s) { s.faults.push_back(Fault::Busy(2)); }},
        {"full-speed", "USB full speed: one report per 1 ms frame each way",
         [](Scenario& s) { s.inputPacing = s.outputPacing = UsbPacing::kFullSpeed; }},
        {"high-speed", "USB high speed: one report per 125 us microframe each way",
         [](Scenario& s) { s.inputPacing = s.outputPacing = UsbPacing::kHighSpeed; }},
        {"slow-write", "every FU_WRITEFW takes 3 s",
         [](Scenario& s) { s.device.timing.writeFwDurationMs = 3000; }},
        {"fwup-fails", "reports a failed updater image (verdict 1)",
         [](Scenario& s) { s.device.modeFaults.fwupVerdict = 1; }},
        {"refuse-restart", "answers the restart request but never restarts",
         [](Scenario& s) { s.device.modeFaults.refuseRestarts = 1000000; }},
        {"wrong-mode", "comes back from the restart into update mode in normal mode",
         [](Scenario& s) { s.device.modeFaults.wrongModeReturns = 1; }},
        {"vanish", "leaves the bus for the restart and never comes back",
         [](Scenario& s) { s.device.modeFaults.vanishOnRestart = 1; }},
        {"flash-not-taken", "takes every image without complaint, yet keeps its old 1.00",
         [](Scenario& s) {
             SetVersions(s, "1.00", "1.00", "1.00");
             s.device.modeFaults.flashDoesNotTake = true;
         }},
        {"never-back", "all versions 1.00; leaves for the restart into normal mode for good",
         [](Scenario& s) {
             SetVersions(s, "1.00", "1.00", "1.00");
             s.device.modeFaults.vanishOnNormalRestart = 1;
         }},
        {"unplug-settling", "unplugged 3 s after it came back in update mode",
         [](Scenario& s) { s.device.modeFaults.settleUnplugAfterMs = 3000; }},
        {"unplug-download", "unplugged after 40 reports of the second piece",
         [](Scenario& s) { s.faults.push_back(Fault::UnplugInPiece(1, 40)); }},
        {"unplug-write", "unplugged while writing the first piece",
         [](Scenario& s) { s.faults.push_back(Fault::UnplugInWrite(0)); }},
        {"setinfo-error", "answers every FU_SETINFO with status 5",
         [](Scenario& s) { s.faults.push_back(Fault::Status(9, 0, 0x05, -1)); }},
        {"writefw-error", "answers every FU_WRITEFW with status 8 (image refused)",
         [](Scenario& s) { s.faults.push_back(Fault::Status(9, 3, 0x08, -1)); }},
        {"drop-writefw", "the answer to the first FU_WRITEFW is lost",
         [](Scenario& s) { s.faults.push_back(Fault::Drop(9, 3, 1)); }},
        {"both", "both identities present at once", [](Scenario& s) { s.bothIdentities = true; }},
        {"exclusive", "the interface is held exclusively by another program",
         [](Scenario& s) { s.heldExclusively = true; }},
        {"wrong-lengths", "right IDs, but 32-byte reports in both modes",
         [](Scenario& s) { s.reportLength = 32; }},
    };
    return entries;
}

}  // namespace

std::optional<Scenario> Scenario::Find(std::string_view name) {
    for (const auto& entry : Entries()) {
        if (name == entry.name) {
            Scenario s;
            s.name = entry.name;
            s.description = entry.description;
            entry.tune(s);
            return s;
        }
    }
    return std::nullopt;
}

Scenario Scenario::Named(std::string_view name) {
    auto found = Find(name);
    if (!found) {
        throw std::invalid_argument("unknown TALVO scenario \"" + std::string(name) + "\"");
    }
    return std::move(*found);
}

std::vector<std::string> Scenario::Names() {
    std::vector<std::string> names;
    for (const auto& entry : Entries()) {
        names.emplace_back(entry.name);
    }
    return names;
}

}  // namespace talvo
