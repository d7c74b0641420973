#include "emulator/emulated_talvo.h"

#include <algorithm>
#include <cstdio>

#include "base/clock.h"
#include "emulator/device_framing.h"
#include "emulator/identities.h"

namespace talvo {

namespace {

// However fast the device clock runs, a device that has answered gives the
// host's reader at least this much real time to take the answer before it
// leaves the bus (an unplug discards input the host has not read yet).
constexpr std::chrono::milliseconds kMinimumRealLeaveDelay{20};

}  // namespace

struct EmulatedTalvo::Plugged {
    LinkInfo link;
    std::shared_ptr<EmulatedEndpoint> endpoint;
    std::thread reader;
    Pacer outputPacer;
};

EmulatedTalvo::Pacer::Pacer(UsbPacing pacing, const FrameGrid& grid) : grid_(grid) {
    stride_ = pacing == UsbPacing::kFullSpeed ? 8 : pacing == UsbPacing::kHighSpeed ? 1 : 0;
}

std::int64_t EmulatedTalvo::Pacer::Claim(std::int64_t earliest) {
    if (stride_ == 0) {
        return -1;
    }
    // The first frame this direction may use: after its own last one, and
    // not before `earliest` (the other side's report has to end first).
    // Without either (-1), nothing held the report back: it cannot use the
    // frame under way, only the next one.
    std::int64_t allowed = std::max(last_ < 0 ? -1 : last_ + stride_, earliest);
    if (allowed >= 0) {
        allowed = (allowed + stride_ - 1) / stride_ * stride_;
    }
    const auto now = std::chrono::steady_clock::now();
    const std::int64_t current = grid_.FrameAt(now) / stride_ * stride_;
    std::int64_t target = allowed;
    if (current > allowed) {
        // The frames it was allowed passed unused: they are lost, and the
        // one under way was not waited for, so it is missed too.
        target = current + stride_;
    }
    const TimePoint start = grid_.StartOf(target);
    if (start > now) {
        // Not a system sleep alone: one that wakes early would let the
        // report out before its frame.
        SleepUntil(start);
    }
    last_ = target;
    return target;
}

EmulatedTalvo::EmulatedTalvo(EmulatedBus& bus, const Scenario& scenario)
    : bus_(bus),
      scenario_(scenario),
      core_(scenario.device, trace_),
      heldExclusively_(scenario.heldExclusively),
      grid_{std::chrono::steady_clock::now(), Clock::Current().RealDuration(1) / 8},
      inputPacer_(scenario.inputPacing, grid_) {
    for (const auto& fault : scenario_.faults) {
        core_.AddFault(fault);
    }
    deviceThread_ = std::thread([this] { DeviceLoop(); });
    if (scenario_.startMode != TalvoMode::kAbsent) {
        Arrive(scenario_.startMode, "plugged in");
    }
}

EmulatedTalvo::~EmulatedTalvo() {
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        stop_ = true;
        ++generation_;
    }
    stateChanged_.notify_all();
    {
        std::lock_guard<std::mutex> lock(jobsMutex_);
        jobsChanged_.notify_all();
    }
    deviceThread_.join();
    Leave("removed");
}

std::shared_ptr<EmulatedTalvo::Plugged> EmulatedTalvo::Primary() const {
    std::lock_guard<std::mutex> lock(stateMutex_);
    return plugged_.empty() ? nullptr : plugged_.front();
}

TalvoMode EmulatedTalvo::Mode() const {
    std::lock_guard<std::mutex> lock(stateMutex_);
    return mode_;
}

bool EmulatedTalvo::WaitForMode(TalvoMode mode, std::uint32_t timeoutMs) const {
    std::unique_lock<std::mutex> lock(stateMutex_);
    return stateChanged_.wait_for(lock, Clock::Current().RealDuration(timeoutMs),
                                  [&] { return mode_ == mode; });
}

int EmulatedTalvo::Arrivals() const {
    std::lock_guard<std::mutex> lock(stateMutex_);
    return arrivals_;
}

void EmulatedTalvo::Unplug() {
    Leave("unplugged");
}

void EmulatedTalvo::PlugIn(TalvoMode mode) {
    Leave("replugged");
    Arrive(mode, "plugged in");
}

void EmulatedTalvo::SetHeldExclusively(bool held) {
    std::lock_guard<std::mutex> lock(stateMutex_);
    heldExclusively_ = held;
    for (const auto& p : plugged_) {
        p->endpoint->SetHeldExclusively(held);
    }
}

void EmulatedTalvo::Arrive(TalvoMode mode, const std::string& why) {
    Leave("restarting");
    std::vector<TalvoMode> modes{mode};
    if (scenario_.bothIdentities) {
        modes.push_back(mode == TalvoMode::kUpdate ? TalvoMode::kNormal : TalvoMode::kUpdate);
    }
    std::vector<std::shared_ptr<Plugged>> added;
    bool held = false;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        held = heldExclusively_;
    }
    for (TalvoMode m : modes) {
        auto p = std::make_shared<Plugged>();
        p->link = TalvoDeviceLink(m, scenario_.reportLength);
        p->outputPacer = Pacer(scenario_.outputPacing, grid_);
        const EmulatedIdentity identity = TalvoDeviceIdentity(m, scenario_.reportLength);
        p->endpoint = bus_.Plug(identity);
        p->endpoint->SetHeldExclusively(held);
        // With pacing the host may have one report waiting while the device
        // takes the previous one; without, it writes as fast as it likes.
        p->endpoint->SetOutputCapacity(scenario_.outputPacing == UsbPacing::kNone ? 0 : 1);
        char text[96];
        std::snprintf(text, sizeof text, "* arrives in %s mode (%04X:%04X, %d-byte reports): %s",
                      TalvoModeName(m), identity.vendorId, identity.productId, p->link.reportLength,
                      why.c_str());
        trace_.Line(WireTrace::Direction::kNote, p->link.identity, text);
        Plugged* raw = p.get();
        p->reader = std::thread([this, raw] { ReaderLoop(raw); });
        added.push_back(p);
    }
    std::vector<std::shared_ptr<Plugged>> displaced;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        displaced.swap(plugged_);
        plugged_ = added;
        mode_ = mode;
        ++arrivals_;
    }
    stateChanged_.notify_all();
    Retire(displaced, "replaced");
    for (const auto& p : added) {
        DeviceSteps steps = core_.OnArrived(p->link);
        if (!steps.empty()) {
            std::lock_guard<std::mutex> lock(jobsMutex_);
            jobs_.push_back(Job{p, {}, std::move(steps)});
            jobsChanged_.notify_all();
        }
    }
}

void EmulatedTalvo::Leave(const std::string& why) {
    std::vector<std::shared_ptr<Plugged>> leaving;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        leaving.swap(plugged_);
        if (!leaving.empty()) {
            ++generation_;
        }
    }
    if (leaving.empty()) {
        return;
    }
    Retire(leaving, why);
    core_.OnLeft();
    {
        // Waiters see the device gone only once it is off the bus and traced.
        std::lock_guard<std::mutex> lock(stateMutex_);
        if (plugged_.empty()) {
            mode_ = TalvoMode::kAbsent;
        }
    }
    stateChanged_.notify_all();
}

void EmulatedTalvo::Retire(const std::vector<std::shared_ptr<Plugged>>& leaving,
                           const std::string& why) {
    for (const auto& p : leaving) {
        bus_.Unplug(p->endpoint);
        trace_.Line(WireTrace::Direction::kNote, p->link.identity, "* leaves the bus: " + why);
    }
    for (const auto& p : leaving) {
        if (p->reader.joinable()) {
            p->reader.join();
        }
    }
}

void EmulatedTalvo::ReaderLoop(Plugged* plugged) {
    std::vector<std::uint8_t> report;
    while (plugged->endpoint->TakeOutput(report, -1)) {
        // The report crosses in the next frame of its own after the last
        // answer's last report: the host cannot send before it has read.
        Origin origin;
        const std::int64_t afterAnswer = lastInputFrame_.load();
        origin.frame = plugged->outputPacer.Claim(
            afterAnswer < 0 ? -1 : afterAnswer + std::max<std::int64_t>(inputPacer_.Stride(), 1));
        if (origin.frame >= 0) {
            // It has crossed once its frame is over.
            SleepUntil(grid_.StartOf(origin.frame + plugged->outputPacer.Stride()));
        }
        origin.time = std::chrono::steady_clock::now();
        if (origin.frame < 0) {
            origin.frame = grid_.FrameAt(origin.time);
        }
        trace_.Report(WireTrace::Direction::kOut, plugged->link.identity, report.data(),
                      report.size());
        std::shared_ptr<Plugged> self;
        {
            std::lock_guard<std::mutex> lock(stateMutex_);
            for (const auto& p : plugged_) {
                if (p.get() == plugged) {
                    self = p;
                }
            }
        }
        if (self) {
            std::lock_guard<std::mutex> lock(jobsMutex_);
            jobs_.push_back(Job{self, std::move(report), {}, origin});
            jobsChanged_.notify_all();
        }
        report.clear();
    }
}

void EmulatedTalvo::DeviceLoop() {
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(jobsMutex_);
            jobsChanged_.wait(lock, [&] {
                std::lock_guard<std::mutex> state(stateMutex_);
                return stop_ || !jobs_.empty();
            });
            {
                std::lock_guard<std::mutex> state(stateMutex_);
                if (stop_) {
                    return;
                }
            }
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        if (!job.source->endpoint->IsPlugged()) {
            continue;  // taken before the device left; it is gone now
        }
        if (!job.report.empty()) {
            const DeviceSteps steps =
                core_.OnOutputReport(job.source->link, job.report.data(), job.report.size());
            Execute(job.source, steps, job.origin);
        } else {
            Execute(job.source, job.steps, Origin{});
        }
    }
}

bool EmulatedTalvo::Wait(std::uint32_t ms, std::uint64_t generation) {
    std::unique_lock<std::mutex> lock(stateMutex_);
    stateChanged_.wait_for(lock, Clock::Current().RealDuration(ms),
                           [&] { return stop_ || generation_ != generation; });
    return !stop_ && generation_ == generation;
}

void EmulatedTalvo::Execute(const std::shared_ptr<Plugged>& source, const DeviceSteps& steps,
                            const Origin& origin) {
    std::uint64_t generation;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        generation = generation_;
    }
    bool sentAny = false;
    for (const auto& step : steps) {
        {
            std::lock_guard<std::mutex> lock(stateMutex_);
            if (stop_ || generation_ != generation) {
                return;  // unplugged meanwhile: the rest does not happen
            }
        }
        switch (step.type) {
            case DeviceStep::Type::kSend:
                Send(source, step, origin);
                sentAny = true;
                break;
            case DeviceStep::Type::kWait:
                if (!Wait(step.ms, generation)) {
                    return;
                }
                break;
            case DeviceStep::Type::kLeave:
                if (sentAny) {
                    std::this_thread::sleep_for(kMinimumRealLeaveDelay);
                }
                Leave(step.note);
                break;
            case DeviceStep::Type::kArrive:
                Arrive(step.mode, step.note);
                break;
        }
        if (step.type == DeviceStep::Type::kLeave || step.type == DeviceStep::Type::kArrive) {
            std::lock_guard<std::mutex> lock(stateMutex_);
            generation = generation_;  // our own doing
        }
    }
}

bool EmulatedTalvo::Send(const std::shared_ptr<Plugged>& source, const DeviceStep& step,
                         const Origin& origin) {
    // An answer leaves no earlier than the frame after the request's last
    // report, plus the device's processing time.
    const auto turnaround = grid_.period * 8 * static_cast<std::int64_t>(step.turnaroundUs) / 1000;
    std::int64_t earliest = -1;
    if (origin.frame >= 0) {
        const std::int64_t frameAfter =
            origin.frame + std::max<std::int64_t>(source->outputPacer.Stride(), 1);
        earliest =
            frameAfter + (turnaround + grid_.period - std::chrono::nanoseconds(1)) / grid_.period;
    }
    std::lock_guard<std::mutex> lock(sendMutex_);
    if (!step.decoded.empty()) {
        trace_.Line(WireTrace::Direction::kIn, source->link.identity, step.decoded);
    }
    if (!inputPacer_.Paced() && origin.frame >= 0 && step.turnaroundUs > 0) {
        SleepUntil(origin.time + turnaround);
    }
    for (const auto& report : step.reports) {
        const std::int64_t frame = inputPacer_.Claim(earliest);
        earliest = -1;
        if (frame >= 0) {
            lastInputFrame_.store(frame);
            SleepUntil(grid_.StartOf(frame + inputPacer_.Stride()));  // crossed at its end
        }
        trace_.Report(WireTrace::Direction::kIn, source->link.identity, report.data(),
                      report.size());
        if (!source->endpoint->PutInput(report.data(), report.size())) {
            trace_.Line(WireTrace::Direction::kNote, source->link.identity,
                        "* input report lost: not on the bus");
            return false;
        }
    }
    return true;
}

bool EmulatedTalvo::SendNotification(std::uint8_t event, int value, std::uint8_t marker) {
    const auto p = Primary();
    return p && Send(p, NotificationStep(p->link, event, value, marker), Origin{});
}

bool EmulatedTalvo::SendEvent4Response(std::uint8_t command, std::uint8_t group, std::uint8_t value,
                                       std::uint8_t status, std::uint8_t detail,
                                       const std::vector<std::uint8_t>& payload) {
    const auto p = Primary();
    return p &&
           Send(p, AnswerStep(p->link, {4, command, group, value, status, detail, payload}, true),
                Origin{});
}

bool EmulatedTalvo::SendDataStream(std::uint8_t kind, const std::vector<std::uint8_t>& data) {
    const auto p = Primary();
    return p && Send(p, DataStreamStep(p->link, kind, data), Origin{});
}

}  // namespace talvo
