// A fake Windows HID stack behind the Win32HidApi table: SetupDi lists,
// device handles, preparsed data and capabilities, and overlapped reads
// and writes that complete at once, go pending, or are cancelled. It also
// watches how it is used: wrong arguments, an I/O block reused while its
// transfer is pending, a handle closed with I/O still pending, and
// anything left open.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "hid/hid_api_win32.h"

namespace talvo::test {

struct FakeWin32Device {
    std::wstring path;
    HIDD_ATTRIBUTES attributes{sizeof(HIDD_ATTRIBUTES), 0, 0, 0};
    HIDP_CAPS caps{};  // capability counts are taken from the arrays below
    std::vector<HIDP_BUTTON_CAPS> buttonCaps[3];
    std::vector<HIDP_VALUE_CAPS> valueCaps[3];
    bool openFails = false;
    bool preparsedFails = false;
    bool attributesFails = false;
    bool capsFails = false;
    bool pathFails = false;  // its interface detail (the path) cannot be had
    // Its parent device node's first location path, else its instance ID
    // (each empty: that property is missing).
    std::wstring locationPath;
    std::wstring parentInstanceId;
};

class FakeWin32Stack {
  public:
    // Becomes the stack the table's functions use until it is destroyed
    // (stacks nest: the one made before takes over again).
    FakeWin32Stack();
    ~FakeWin32Stack();
    FakeWin32Stack(const FakeWin32Stack&) = delete;
    FakeWin32Stack& operator=(const FakeWin32Stack&) = delete;

    const Win32HidApi& Api() const { return api_; }

    int Add(FakeWin32Device device);  // at the end of the enumeration order
    void SetOpenFails(int id, bool fails);
    void SetPathFails(int id, bool fails);
    // Writes beyond this many untaken reports go pending; 0 = unbounded.
    void SetOutputCapacity(int id, std::size_t reports);
    void Unplug(int id);
    // The driver of this device never completes a cancelled transfer. A
    // handle closed over such a transfer leaves it with the stack, which
    // completes it, writing into its block and buffer, only on
    // FinishAbandoned() (as a driver that finally lets go would).
    void SetIgnoresCancel(int id, bool ignores);
    int FinishAbandoned();  // the number of transfers completed
    // Whole report, ID byte first: completes a pending read or is queued.
    bool SendInput(int id, const std::vector<std::uint8_t>& report);
    bool TakeOutput(int id, std::vector<std::uint8_t>& report, int timeoutMs);

    void FailListing(bool fails);
    void FailEnumerationAt(int index);  // -1 = never
    void FailNextCreateEvent();

    // Usage records.
    std::vector<std::string> Violations();
    int OpenFiles();
    int Outstanding();  // open files + preparsed data + lists + events not released
    // "CancelIo", "CancelIoEx", "ResetEvent", "CreateFileW", "HidD_GetPreparsedData",
    // "HidD_GetAttributes", ...
    int Count(const std::string& call);

    // The table's functions, on the current stack.
    struct Calls;

  private:
    friend struct Calls;
    struct PendingIo {
        OVERLAPPED* block = nullptr;
        const std::uint8_t* writeData = nullptr;
        std::uint8_t* readBuffer = nullptr;
        DWORD length = 0;
        DWORD thread = 0;
        bool cancelRequested = false;  // cancellation completes when next asked for
    };
    struct File {
        int device = 0;
        std::deque<std::vector<std::uint8_t>> inputs;
        bool readPending = false;
        PendingIo read;
        bool writePending = false;
        PendingIo write;
    };
    struct Device {
        FakeWin32Device spec;
        bool plugged = true;
        bool ignoresCancel = false;
        std::size_t capacity = 0;
        std::deque<std::vector<std::uint8_t>> outputs;
    };
    struct List {
        std::vector<int> devices;
    };
    struct Preparsed {
        int device = 0;
    };

    void Violation(const std::string& what);  // called with the lock held
    void CompleteRead(File& file, NTSTATUS status);
    void CompleteWrite(File& file, NTSTATUS status);
    void MoveWaitingWrite(Device& device);

    Win32HidApi api_;
    std::mutex mutex_;
    std::condition_variable outputArrived_;
    std::map<int, Device> devices_;
    int nextId_ = 0;
    std::set<File*> files_;
    std::vector<PendingIo> abandoned_;
    std::set<Preparsed*> preparsed_;
    std::set<List*> lists_;
    std::set<HANDLE> events_;
    std::vector<std::string> violations_;
    std::map<std::string, int> counts_;
    bool failListing_ = false;
    int failEnumerationAt_ = -1;
    bool failNextEvent_ = false;
    FakeWin32Stack* previous_;
};

// Capabilities of a simple vendor-page device: one value field per kind
// with the given data length (0 = none) and report IDs.
FakeWin32Device SimpleFakeDevice(const std::wstring& path, USHORT vendor, USHORT product,
                                 int inputLength, int outputLength, UCHAR inputId = 0,
                                 UCHAR outputId = 0);

}  // namespace talvo::test
