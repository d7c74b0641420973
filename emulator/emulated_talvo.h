// A TALVO on the emulated HID bus: plugs the identity of its mode, takes
// the host's output reports, runs them through the device core and carries
// out what the core asks for (answers, waits, leaving and coming back),
// with the scenario's pacing, timing and faults. Every wait follows
// Clock::Current(), so a ScaledClock makes restarts and long writes fast.
//
//   EmulatedBus bus;
//   EmulatedTalvo talvo(bus, Scenario::Named("current"));
//   ... host code opens the device through the bus ...
//   EXPECT_EQ(talvo.Flash(1), packageImage);
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "emulator/device_core.h"
#include "emulator/scenario.h"
#include "emulator/wire_trace.h"
#include "hid/emulated_bus.h"

namespace talvo {

class EmulatedTalvo {
  public:
    EmulatedTalvo(EmulatedBus& bus, const Scenario& scenario);
    ~EmulatedTalvo();
    EmulatedTalvo(const EmulatedTalvo&) = delete;
    EmulatedTalvo& operator=(const EmulatedTalvo&) = delete;

    // The mode it is present in (the first identity when both are plugged).
    TalvoMode Mode() const;
    // Waits up to timeoutMs of the device clock for the mode.
    bool WaitForMode(TalvoMode mode, std::uint32_t timeoutMs) const;
    // How many times it has appeared on the bus.
    int Arrivals() const;

    // The user pulls the cable / plugs it in again (it boots in `mode`).
    void Unplug();
    void PlugIn(TalvoMode mode = TalvoMode::kNormal);
    void SetHeldExclusively(bool held);

    void AddFault(const Fault& fault) { core_.AddFault(fault); }
    std::vector<Fault> Faults() const { return core_.Faults(); }
    ModeFaults GetModeFaults() const { return core_.GetModeFaults(); }
    void SetModeFaults(const ModeFaults& faults) { core_.SetModeFaults(faults); }

    // Unsolicited input on the present identity; false when absent.
    bool SendNotification(std::uint8_t event, int value, std::uint8_t marker = 0x90);
    bool SendEvent4Response(std::uint8_t command, std::uint8_t group, std::uint8_t value,
                            std::uint8_t status, std::uint8_t detail,
                            const std::vector<std::uint8_t>& payload);
    bool SendDataStream(std::uint8_t kind, const std::vector<std::uint8_t>& data);

    std::vector<std::uint8_t> Flash(int typeCode) const { return core_.Flash(typeCode); }
    std::string Version(int typeCode) const { return core_.Version(typeCode); }
    std::vector<CommandRecord> Commands() const { return core_.Commands(); }
    std::vector<std::string> CommandNames() const { return core_.CommandNames(); }
    int ImagesAccepted() const { return core_.ImagesAccepted(); }
    WireTrace& Trace() { return trace_; }
    DeviceCore& Core() { return core_; }
    const Scenario& GetScenario() const { return scenario_; }

  private:
    struct Plugged;
    using TimePoint = std::chrono::steady_clock::time_point;
    // The link's time line in 125 us microframes of the device clock, one
    // grid for both directions; a 1 ms full-speed frame is 8 of them.
    struct FrameGrid {
        TimePoint epoch;
        std::chrono::nanoseconds period;  // one microframe, in real time
        std::int64_t FrameAt(TimePoint t) const { return (t - epoch) / period; }
        TimePoint StartOf(std::int64_t frame) const { return epoch + frame * period; }
    };
    // One direction of the link: at most one report per frame (its stride
    // of microframes). A frame that passes unused is lost, never made good
    // later by two in one frame.
    class Pacer {
      public:
        Pacer() = default;
        Pacer(UsbPacing pacing, const FrameGrid& grid);
        bool Paced() const { return stride_ != 0; }
        std::int64_t Stride() const { return stride_; }
        // Waits for the first frame of this direction that starts at or after
        // microframe `earliest` (or is under way, when `earliest` is past)
        // and that it has not used yet, and takes it: the microframe it
        // starts at. -1 without pacing.
        std::int64_t Claim(std::int64_t earliest);

      private:
        std::int64_t stride_ = 0;  // microframes per frame; 0 = not paced
        FrameGrid grid_{};
        std::int64_t last_ = -1;
    };
    // When and in which frame the request being answered ended.
    struct Origin {
        TimePoint time{};
        std::int64_t frame = -1;  // -1: not a request (arrival steps, user actions)
    };
    struct Job {
        std::shared_ptr<Plugged> source;
        std::vector<std::uint8_t> report;  // a report to take in, or
        DeviceSteps steps;                 // steps to carry out
        Origin origin;                     // of the report
    };

    void DeviceLoop();
    void ReaderLoop(Plugged* plugged);
    void Execute(const std::shared_ptr<Plugged>& source, const DeviceSteps& steps,
                 const Origin& origin);
    bool Send(const std::shared_ptr<Plugged>& source, const DeviceStep& step, const Origin& origin);
    // Waits `ms` of the device clock; false when cut short (stop, or the
    // device was unplugged meanwhile).
    bool Wait(std::uint32_t ms, std::uint64_t generation);
    void Leave(const std::string& why);
    void Retire(const std::vector<std::shared_ptr<Plugged>>& leaving, const std::string& why);
    void Arrive(TalvoMode mode, const std::string& why);
    std::shared_ptr<Plugged> Primary() const;

    EmulatedBus& bus_;
    const Scenario scenario_;
    WireTrace trace_;
    DeviceCore core_;

    mutable std::mutex stateMutex_;
    mutable std::condition_variable stateChanged_;
    bool stop_ = false;
    std::uint64_t generation_ = 0;
    int arrivals_ = 0;
    TalvoMode mode_ = TalvoMode::kAbsent;  // as the host can see it
    bool heldExclusively_ = false;
    std::vector<std::shared_ptr<Plugged>> plugged_;

    std::mutex jobsMutex_;
    std::condition_variable jobsChanged_;
    std::deque<Job> jobs_;

    const FrameGrid grid_;
    std::mutex sendMutex_;
    Pacer inputPacer_;
    std::atomic<std::int64_t> lastInputFrame_{-1};

    std::thread deviceThread_;
};

}  // namespace talvo
