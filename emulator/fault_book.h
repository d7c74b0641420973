// Every fault the device is armed with, kept and fired in one place:
//  - faults matched by request (group, command, value, piece), each with
//    its skip and firing count; the ones that reshape an answer are one
//    table, applied in a fixed order;
//  - the mode faults, counters spent one restart at a time (a table too);
//  - the numbered fault points: counted in the order the device meets
//    them, the armed one leaves the bus there or, at a request, becomes a
//    matched fault that fires before any other.
// Not thread-safe; the device core holds its lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "emulator/device_steps.h"
#include "emulator/faults.h"

namespace talvo {

// What a matched fault is matched against.
struct RequestKey {
    std::uint8_t group = 0;
    std::uint8_t command = 0;
    std::uint8_t value = 0;
    int piece = -1;  // update-group piece index, -1: none
};

// The counted mode faults, each spent by one restart.
enum class ModeCounter { kRefuseRestart, kVanishOnRestart, kVanishOnNormalRestart, kWrongMode };

class FaultBook {
  public:
    explicit FaultBook(const ModeFaults& modeFaults) : mode_(modeFaults) {}

    void Add(const Fault& fault) { faults_.push_back(fault); }
    const std::vector<Fault>& All() const { return faults_; }
    void Clear() { faults_.clear(); }
    // The first fault of `kind` that matches and is due fires (and is
    // returned); every matching one counts the request as seen.
    Fault* Take(FaultKind kind, const RequestKey& key);

    // The answer faults (drop, late, wrong length/kind/command/group,
    // event 4) that fire for this request, applied to `answer`; a late
    // answer's wait goes to `before`.
    struct Shaping {
        bool drop = false;
        bool asEvent4 = false;
    };
    Shaping ShapeAnswer(const RequestKey& key, DeviceAnswer& answer, DeviceSteps& before,
                        const DeviceNotes& notes);

    const ModeFaults& Mode() const { return mode_; }
    void SetMode(const ModeFaults& faults) { mode_ = faults; }
    // Spends one of the counter when any is left (noting the fault).
    bool Spend(ModeCounter counter, const DeviceNotes& notes);
    // The one-shot unplug after arriving in update mode: its delay, or -1.
    int TakeSettleUnplug();

    // Numbered points.
    void CountPoints(const PointFault& fault);
    const std::vector<FaultPoint>& Points() const { return points_; }
    bool PointFired() const { return pointFired_; }
    bool Counting() const { return counting_; }
    // Numbers a point when counting; true when the armed fault lands there.
    bool AtPoint(FaultPointKind kind, const std::string& what, const DeviceNotes& notes);
    // Leaving the bus at the armed point (and coming back for an unplug).
    DeviceSteps PointTail() const;
    // The input reports, waits and departures in `steps` as points; cut at
    // the armed one.
    void CutAtPoint(DeviceSteps& steps, const DeviceNotes& notes);
    // At a request's point: the armed answer fault, as a matched fault that
    // fires before any other.
    void ArmAtRequest(const RequestKey& key);

  private:
    std::vector<Fault> faults_;
    ModeFaults mode_;
    bool counting_ = false;
    std::vector<FaultPoint> points_;
    PointFault pointFault_;
    bool pointFired_ = false;
};

}  // namespace talvo
