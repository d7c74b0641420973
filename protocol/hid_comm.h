// The protocol object: one open HID device, the transport of the device
// command protocol on it (request segmentation, the receive thread that
// reassembles responses, notifications and data-stream messages) and the
// command dispatcher with the firmware download.
//
// Threads: the thread that issues a command runs Dispatch (which holds
// `lock` for that one command) and SendAndWait; the receive thread runs
// ReceiveLoop; the closing thread runs Close. The receive thread takes no
// lock: a response reaches the sender through `responseBuffer` and the
// manual-reset `responseEvent`, which it sets only after the whole response
// is in the buffer.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "base/critical_section.h"
#include "base/event.h"
#include "hid/hid_device.h"
#include "protocol/command_params.h"
#include "protocol/framing.h"
#include "protocol/result_code.h"

namespace talvo {

// Both called on the receive thread; they must not block on the connection.
using NotifyCallback = void (*)(int event, int value);
// `count` is the stream's count N, which includes the kind byte; `data`
// points at the N-1 data bytes (followed by a zero byte).
using StreamCallback = void (*)(int kind, const std::uint8_t* data, int count);

// The event reported when the device is lost (a failed read).
inline constexpr int kEventDeviceLost = 255;
// Time limit of every output report write.
inline constexpr int kReportWriteLimitMs = 500;

// The status and detail bytes of the last response taken, as Dispatch hands
// them to its caller.
struct StatusPair {
    std::int32_t status = 0;
    std::int32_t detail = 0;
};

class ulo_CHidCommBase {
  public:
    virtual ~ulo_CHidCommBase() = default;
    // The base offers no commands: it does nothing and returns 0.
    virtual ResultCode Dispatch(int key, CommandParams* params, StatusPair* statusPair);
};

class ulo_CHidComm;
// A command handler: the block (or none) in, a result out.
using CommandHandler = ResultCode (*)(ulo_CHidComm& comm, CommandParams* params);

struct CommandEntry {
    int key;
    CommandHandler handler;
};

// The 82 commands, keys 0 to 82 without 27 (command_table.cpp).
extern const std::array<CommandEntry, 82> CommandTable;

class ulo_CHidComm : public ulo_CHidCommBase {
  public:
    // Opens its device on the process's default HID platform, or on the
    // one given (see hid/hid_platform.h).
    ulo_CHidComm();
    explicit ulo_CHidComm(IHidPlatform& platform);
    // Closes first when the owner did not.
    ~ulo_CHidComm() override;
    ulo_CHidComm(const ulo_CHidComm&) = delete;
    ulo_CHidComm& operator=(const ulo_CHidComm&) = delete;

    // Runs the command with the given key while holding `lock`, then copies
    // lastStatus/lastDetail into the pair (when given) whatever the result.
    // -5 when no command has the key.
    ResultCode Dispatch(int key, CommandParams* params, StatusPair* statusPair) override;

    // Writes one request message as a run of output reports (500 ms each)
    // and waits up to `timeLimitMs` (-1: no limit) for the response.
    // 0 or -13 leave the response in responseBuffer and update
    // lastStatus/lastDetail; -1 empty message, -7 write failure or time-out,
    // -11 receive side stopped.
    ResultCode SendAndWait(const std::uint8_t* message, std::uint32_t length,
                           std::int32_t timeLimitMs);

    // Body of the receive thread; returns when the thread is to end.
    void ReceiveLoop();
    // Thread function: runs ReceiveLoop on `comm` when one is given.
    static void ReceiveThreadEntry(ulo_CHidComm* comm);

    // Set-up steps of the connection that owns the object: create the
    // manual-reset event (initially not set), start the receive thread.
    bool CreateResponseEvent();
    bool StartReceiveThread();

    // Stops and joins the receive thread, releases the event and the HID
    // device and clears both callbacks. Returns 0. Safe to call again. Never
    // call it on the receive thread (it joins that thread).
    int Close();

    // Command 64: validates the image in the block and downloads it.
    ResultCode DownloadImage(CommandParams* params);
    // FU_SETINFO, then FU_FWLOAD and FU_WRITEFW per 10,240-byte piece.
    // 0, -10, -12, -15 or -16.
    ResultCode Download(const std::uint8_t* image, std::uint32_t length, std::int32_t imageType,
                        ProgressCallback callback, void* userData);

    // Members, in this order.
    CriticalSectionLock lock;
    CHidDevice hidDevice;
    std::thread receiveThread;
    std::atomic<std::int32_t> stopRequested{0};
    std::unique_ptr<Event> responseEvent;
    std::atomic<std::int32_t> downloading{0};
    std::int32_t inputReportLength = 0;
    std::int32_t outputReportLength = 0;
    std::uint8_t notifyBuffer[kNotifyBufferSize] = {};
    std::uint8_t streamBuffer[kStreamBufferSize] = {};
    std::uint8_t requestBuffer[kRequestBufferSize] = {};
    // The response handed to the waiting sender; handlers read it here.
    std::uint8_t responseBuffer[kResponseBufferSize] = {};
    std::int32_t lastStatus = 0;
    std::int32_t lastDetail = 0;
    std::atomic<NotifyCallback> notifyCallback{nullptr};
    std::atomic<StreamCallback> streamCallback{nullptr};

    // Clears the first outputReportLength bytes of requestBuffer, where a
    // handler then builds its request.
    void ClearRequest();

  private:
    ResultCode WaitForResponse(std::int32_t timeLimitMs);

    // The report being written; a fixed member so that sending allocates
    // nothing.
    std::uint8_t outputReport_[kMaxReportLength] = {};

    // Hand-over of a response from the receive thread to the sender.
    //
    // The receive thread reassembles into assembly_, which only it touches,
    // and copies a complete response into responseBuffer only for a sender
    // that waits for one: it claims the hand-over (waiting -> publishing),
    // copies, sets responseEvent and marks it published. A response that
    // comes while nobody waits (after a time-out, or a second answer to one
    // request) stays in assembly_, so responseBuffer never changes while a
    // handler reads it.
    enum Handover : std::int32_t { kIdle = 0, kWaiting = 1, kPublishing = 2, kPublished = 3 };
    void PublishResponse(std::size_t bytes);
    // The sender gives up its claim (unless a response is being handed over).
    void StopWaiting();
    // Waits until a hand-over in progress has finished; returns the state.
    std::int32_t SettledHandover() const;
    std::atomic<std::int32_t> handover_{kIdle};
    std::uint8_t assembly_[kResponseBufferSize] = {};
};

}  // namespace talvo
