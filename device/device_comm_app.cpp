#include "device/device_comm_app.h"

#include <new>

#include "hid/hid_platform.h"
#include "hid/talvo_ids.h"

namespace talvo {

namespace {

std::atomic<IMessageTarget*> g_notifyTarget{nullptr};

}  // namespace

CDeviceCommApp::CDeviceCommApp() : CDeviceCommApp(HidPlatform::Current()) {}

CDeviceCommApp::CDeviceCommApp(IHidPlatform& platform) : platform_(platform) {}

CDeviceCommApp::~CDeviceCommApp() {
    {
        CriticalSection guard(&lock);
        if (comm) {
            comm->Close();
            comm.reset();
        }
        connected.store(0);
    }
    ready.store(0);
}

bool CDeviceCommApp::Open(int mode) {
    return Open(mode, std::string());
}

std::string CDeviceCommApp::Location() {
    CriticalSection guard(&lock);
    return comm ? comm->hidDevice.Location() : std::string();
}

bool CDeviceCommApp::Open(int mode, const std::string& location) {
    CriticalSection guard(&lock);
    lastOpenInUse_.store(false);
    if (comm) {
        return false;
    }
    std::unique_ptr<ulo_CHidComm> opened(new (std::nothrow) ulo_CHidComm(platform_));
    if (!opened) {
        return false;
    }
    bool ok = opened->CreateResponseEvent();
    if (ok) {
        opened->notifyCallback.store(&CDeviceCommApp::OnDeviceNotify);
        int productId = 0;
        int reportLength = 0;
        if (mode == 1) {
            productId = kTalvoNormalProductId;
            reportLength = kNormalReportLength;
        } else if (mode == 2) {
            productId = kTalvoUpdateProductId;
            reportLength = kUpdateReportLength;
        } else {
            ok = false;
        }
        if (ok) {
            opened->inputReportLength = reportLength;
            opened->outputReportLength = reportLength;
            opened->hidDevice.SetConversation(true);
            ok = opened->hidDevice.Open(kTalvoVendorId, productId, reportLength, reportLength, 0,
                                        location) != nullptr;
            lastOpenInUse_.store(!ok && opened->hidDevice.LastFailure() ==
                                            CHidDevice::OpenFailure::kInUse);
            ok = ok && opened->StartReceiveThread();
        }
    }
    if (!ok) {
        opened->Close();
        return false;
    }
    comm = std::move(opened);
    connected.store(1);
    return true;
}

int CDeviceCommApp::Close() {
    CriticalSection guard(&lock);
    if (connected.load() == 1) {
        if (comm) {
            comm->Close();
            comm.reset();
        }
        connected.store(0);
    }
    return connected.load();
}

ResultCode CDeviceCommApp::RunCommand(int key) {
    CriticalSection guard(&lock);
    if (!comm) {
        return kResultNotConnected;
    }
    StatusPair pair{lastStatus, lastDetail};
    const ResultCode result = comm->Dispatch(key, &params, &pair);
    lastStatus = pair.status;
    lastDetail = pair.detail;
    return result;
}

void CDeviceCommApp::OnDeviceNotify(int event, int value) {
    if (IMessageTarget* target = g_notifyTarget.load()) {
        target->Post(kMsgDeviceEvent, static_cast<std::uintptr_t>(static_cast<unsigned>(event)),
                     value);
    }
}

void CDeviceCommApp::SetNotifyTarget(IMessageTarget* target) {
    g_notifyTarget.store(target);
}

IMessageTarget* CDeviceCommApp::NotifyTarget() {
    return g_notifyTarget.load();
}

}  // namespace talvo
