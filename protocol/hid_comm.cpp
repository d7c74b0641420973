#include "protocol/hid_comm.h"

#include <cstring>
#include <new>
#include <system_error>
#include <thread>

namespace talvo {

ResultCode ulo_CHidCommBase::Dispatch(int, CommandParams*, StatusPair*) {
    return kResultOk;
}

ulo_CHidComm::ulo_CHidComm() = default;

ulo_CHidComm::ulo_CHidComm(IHidPlatform& platform) : hidDevice(platform) {}

ulo_CHidComm::~ulo_CHidComm() {
    Close();
}

ResultCode ulo_CHidComm::Dispatch(int key, CommandParams* params, StatusPair* statusPair) {
    CriticalSection guard(&lock);
    ResultCode result = kResultNoCommand;
    // Every entry is examined; each key occurs at most once.
    for (const CommandEntry& entry : CommandTable) {
        if (entry.key == key) {
            result = entry.handler(*this, params);
        }
    }
    if (statusPair != nullptr) {
        statusPair->status = lastStatus;
        statusPair->detail = lastDetail;
    }
    return result;
}

void ulo_CHidComm::ClearRequest() {
    if (outputReportLength > 0) {
        const std::size_t n = static_cast<std::size_t>(outputReportLength) < kRequestBufferSize
                                  ? static_cast<std::size_t>(outputReportLength)
                                  : kRequestBufferSize;
        std::memset(requestBuffer, 0, n);
    }
}

ResultCode ulo_CHidComm::SendAndWait(const std::uint8_t* message, std::uint32_t length,
                                     std::int32_t timeLimitMs) {
    // A hand-over that is still being finished for an earlier request (its
    // response came just as it gave up) completes first, so that its Set
    // cannot release this wait.
    SettledHandover();
    // The event is reset before anything is written, so only a response to
    // this request (or the receive side ending) can release the wait.
    if (responseEvent) {
        responseEvent->Reset();
    }
    if (length == 0) {
        return kResultFailed;
    }
    // A report length outside 2..64 cannot carry a segment; such an object
    // was never opened properly, so it behaves like a device that accepts
    // no reports.
    if (!responseEvent || !IsValidReportLength(outputReportLength)) {
        return kResultTransport;
    }
    handover_.store(kWaiting);
    const bool written = WriteSegments(
        message, length, outputReportLength, outputReport_, [this](const std::uint8_t* report) {
            return hidDevice.WriteReport(report, kReportWriteLimitMs) != 0;
        });
    if (!written) {
        StopWaiting();
        return kResultTransport;
    }
    return WaitForResponse(timeLimitMs);
}

void ulo_CHidComm::StopWaiting() {
    std::int32_t expected = kWaiting;
    handover_.compare_exchange_strong(expected, kIdle);
}

std::int32_t ulo_CHidComm::SettledHandover() const {
    for (;;) {
        const std::int32_t state = handover_.load();
        if (state != kPublishing) {
            return state;
        }
        std::this_thread::yield();  // the receive thread is copying one response
    }
}

ResultCode ulo_CHidComm::WaitForResponse(std::int32_t timeLimitMs) {
    // -1 is the protocol's "no limit" and converts to the event's kInfinite.
    if (!responseEvent->Wait(static_cast<std::uint32_t>(timeLimitMs))) {
        StopWaiting();
        return kResultTransport;
    }
    if (stopRequested.load() != 0) {
        StopWaiting();
        return kResultStopped;
    }
    if (SettledHandover() != kPublished) {
        // Woken without a response handed over (the event was set from
        // elsewhere): as good as no response.
        StopWaiting();
        return kResultTransport;
    }
    lastStatus = responseBuffer[4];
    lastDetail = responseBuffer[5];
    return lastStatus != 0 ? kResultDeviceStatus : kResultOk;
}

void ulo_CHidComm::PublishResponse(std::size_t bytes) {
    std::int32_t expected = kWaiting;
    if (!handover_.compare_exchange_strong(expected, kPublishing)) {
        return;  // nobody waits for it
    }
    std::memcpy(responseBuffer, assembly_, bytes);
    if (responseEvent) {
        responseEvent->Set();
    }
    handover_.store(kPublished);
}

void ulo_CHidComm::ReceiveLoop() {
    if (stopRequested.load() != 0) {
        return;
    }
    std::uint8_t report[kMaxReportLength] = {};
    const bool usable = IsValidReportLength(inputReportLength);
    ReceiveAssembler assembler(usable ? inputReportLength : kMaxReportLength, assembly_,
                               streamBuffer, notifyBuffer);
    for (;;) {
        if (!usable || hidDevice.ReadReport(report, -1) == 0) {
            // The device went away or Close asked the thread to end. Only
            // the first case is news, and not while a download runs (its
            // own result reports the loss).
            if (stopRequested.load() == 0 && downloading.load() == 0) {
                if (NotifyCallback callback = notifyCallback.load()) {
                    callback(kEventDeviceLost, 0);
                }
            }
            // stopRequested is set before the event so that a sender woken
            // by it always sees the stop and returns -11 rather than taking
            // whatever the response buffer holds as its answer.
            stopRequested.store(1);
            if (responseEvent) {
                responseEvent->Set();
            }
            return;
        }
        const ReceiveOutcome out = assembler.Feed(report);
        if (out.responseReady) {
            PublishResponse(out.responseBytes);
        }
        if (out.notify) {
            if (NotifyCallback callback = notifyCallback.load()) {
                callback(out.event, out.value);
            }
        }
        if (out.stream) {
            if (StreamCallback callback = streamCallback.load()) {
                callback(out.streamKind, out.streamData, out.streamCount);
            }
        }
        if (stopRequested.load() != 0) {
            return;
        }
    }
}

void ulo_CHidComm::ReceiveThreadEntry(ulo_CHidComm* comm) {
    if (comm != nullptr) {
        comm->ReceiveLoop();
    }
}

bool ulo_CHidComm::CreateResponseEvent() {
    if (!responseEvent) {
        responseEvent.reset(new (std::nothrow) Event(Event::Mode::kManualReset, false));
    }
    return responseEvent != nullptr;
}

bool ulo_CHidComm::StartReceiveThread() {
    if (receiveThread.joinable()) {
        return false;
    }
    try {
        receiveThread = std::thread(&ulo_CHidComm::ReceiveThreadEntry, this);
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

int ulo_CHidComm::Close() {
    if (receiveThread.joinable()) {
        stopRequested.store(1);
        hidDevice.AbortRead();
        receiveThread.join();
    }
    responseEvent.reset();
    hidDevice.Close();
    notifyCallback.store(nullptr);
    streamCallback.store(nullptr);
    // The lock lives as long as the object, so a stray Dispatch after Close
    // still finds a valid lock (and fails with -7 for want of a device).
    return 0;
}

}  // namespace talvo
