#include "hid/hid_device.h"

#include <cstring>

#include "hid/hid_platform.h"

namespace talvo {

namespace {

constexpr int kMaxReportDataLength = 256;

// A wanted data length against an interface's byte length: the byte length
// carries the report ID byte, and a wanted length of 0 asks for an
// interface without reports of that kind.
bool LengthMatches(int wantedDataLength, std::uint16_t byteLength) {
    return wantedDataLength == 0 ? byteLength == 0 : byteLength == wantedDataLength + 1;
}

}  // namespace

CHidDevice::CHidDevice() : platform_(&HidPlatform::Current()) {}

CHidDevice::CHidDevice(IHidPlatform& platform) : platform_(&platform) {}

CHidDevice::~CHidDevice() {
    Close();
}

bool CHidDevice::Matches(const HidInterfaceInfo& info) const {
    if (!location_.empty() && info.location != location_) {
        return false;
    }
    if (vendorId_ == 0 && productId_ == 0) {
        return true;
    }
    return info.vendorId == vendorId_ && info.productId == productId_ &&
           LengthMatches(inputLength_, info.inputReportByteLength) &&
           LengthMatches(outputLength_, info.outputReportByteLength);
}

CHidDevice::Search CHidDevice::FindInterface(int& found) {
    std::unique_ptr<IHidInterfaceList> list = platform_->ListInterfaces();
    if (!list) {
        return Search::kUnsure;
    }
    const bool anyIds = vendorId_ == 0 && productId_ == 0;
    bool incomplete = false;
    int earlierMatches = 0;
    for (std::size_t index = 0;; ++index) {
        // An interface whose IDs are known without opening it and are not
        // the wanted ones is left alone (other devices are never opened).
        std::uint16_t vendor = 0, product = 0;
        if (!anyIds && list->PeekIds(index, vendor, product) &&
            (vendor != vendorId_ || product != productId_)) {
            continue;
        }
        std::unique_ptr<IHidInterfaceHandle> handle;
        switch (list->Open(index, HidOpenPurpose::kProbe, handle)) {
            case HidSlot::kOpened:
                if (!handle) {
                    continue;
                }
                break;
            case HidSlot::kSkipped:
            case HidSlot::kInUse:
                continue;
            case HidSlot::kIncomplete:
                incomplete = true;
                continue;
            case HidSlot::kEnd:
                return incomplete ? Search::kUnsure : Search::kAbsent;
            case HidSlot::kFailed:
                return Search::kUnsure;
        }
        if (Matches(handle->Info())) {
            if (earlierMatches == occurrence_) {
                found = static_cast<int>(index);
                return Search::kFound;
            }
            ++earlierMatches;
        }
    }
}

CHidDevice::Search CHidDevice::OpenInterface(HidDeviceRecord*& record) {
    int index = -1;
    const Search search = FindInterface(index);
    if (search != Search::kFound) {
        return search;
    }
    std::unique_ptr<IHidInterfaceList> list = platform_->ListInterfaces();
    if (!list) {
        return Search::kUnsure;
    }
    std::unique_ptr<IHidInterfaceHandle> handle;
    const HidSlot slot =
        list->Open(static_cast<std::size_t>(index),
                   converse_ ? HidOpenPurpose::kConverse : HidOpenPurpose::kKeep, handle);
    if (slot == HidSlot::kInUse) {
        return Search::kInUse;
    }
    // The interfaces may have changed since the search pass (a device
    // plugged or removed in between shifts the indexes): never keep an
    // interface open that does not answer to the criteria, and look again.
    if (slot != HidSlot::kOpened || !handle || !Matches(handle->Info())) {
        return Search::kUnsure;
    }
    record = new HidDeviceRecord;
    record->info = handle->Info();
    record->handle = std::move(handle);
    record->inputReport.assign(record->info.inputReportByteLength, 0);
    record->outputReport.assign(record->info.outputReportByteLength, 0);
    return Search::kFound;
}

HidDeviceRecord* CHidDevice::Open(int vendorId, int productId, int inputLength, int outputLength,
                                  int occurrence) {
    return Open(vendorId, productId, inputLength, outputLength, occurrence, std::string());
}

HidDeviceRecord* CHidDevice::Open(int vendorId, int productId, int inputLength, int outputLength,
                                  int occurrence, const std::string& location) {
    if (record_ != nullptr) {
        Close();
    }
    vendorId_ = vendorId;
    productId_ = productId;
    inputLength_ = inputLength;
    outputLength_ = outputLength;
    occurrence_ = occurrence;
    location_ = location;
    lastFailure_ = OpenFailure::kAbsent;
    if (inputLength > kMaxReportDataLength || outputLength > kMaxReportDataLength ||
        inputLength < 0 || outputLength < 0 || occurrence < 0) {
        Close();
        return nullptr;
    }
    HidDeviceRecord* record = nullptr;
    Search search = Search::kUnsure;
    for (int attempt = 0; attempt < kOpenAttempts && search == Search::kUnsure; ++attempt) {
        search = OpenInterface(record);
    }
    if (search != Search::kFound) {
        Close();
        lastFailure_ = search == Search::kInUse ? OpenFailure::kInUse : OpenFailure::kAbsent;
        return nullptr;
    }
    record_ = record;
    lastFailure_ = OpenFailure::kNone;
    isOpen.store(1);
    return record_;
}

std::string CHidDevice::Location() const {
    return record_ != nullptr ? record_->info.location : std::string();
}

void CHidDevice::Close() {
    isOpen.store(0);
    if (record_ != nullptr) {
        // The handle's destructor ends any transfer still pending on it
        // before its buffers go.
        delete record_;
        record_ = nullptr;
    }
}

int CHidDevice::ReadReport(std::uint8_t* buffer, int timeoutMs) {
    // After AbortRead or Close no new transfer is started.
    if (isOpen.load() == 0 || record_ == nullptr || buffer == nullptr) {
        return 0;
    }
    const int length = record_->info.inputReportByteLength;
    if (length < 1) {
        return 0;
    }
    if (!record_->handle->Read(record_->inputReport.data(), timeoutMs)) {
        return 0;
    }
    if (isOpen.load() == 0) {
        return 0;
    }
    std::memcpy(buffer, record_->inputReport.data() + 1, static_cast<std::size_t>(length - 1));
    return 1;
}

int CHidDevice::WriteReport(const std::uint8_t* data, int timeoutMs) {
    if (isOpen.load() != 1 || record_ == nullptr) {
        return 0;
    }
    const int length = record_->info.outputReportByteLength;
    if (length < 1 || (data == nullptr && length > 1)) {
        return 0;
    }
    std::uint8_t* report = record_->outputReport.data();
    report[0] = record_->info.outputReportId;
    if (length > 1) {
        std::memcpy(report + 1, data, static_cast<std::size_t>(length - 1));
    }
    return record_->handle->Write(report, timeoutMs) ? 1 : 0;
}

void CHidDevice::AbortRead() {
    isOpen.store(0);
    if (record_ != nullptr) {
        record_->handle->AbortRead();
    }
}

int CHidDevice::InputReportByteLength() const {
    return record_ != nullptr ? record_->info.inputReportByteLength : 0;
}

int CHidDevice::OutputReportByteLength() const {
    return record_ != nullptr ? record_->info.outputReportByteLength : 0;
}

}  // namespace talvo
