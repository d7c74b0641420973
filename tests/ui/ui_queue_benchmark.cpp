// Throughput of the headless UI-thread queue: messages posted by a worker
// thread and dispatched to a dialog's message map on the UI thread.
#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

#include "tests/ui/ui_test_support.h"
#include "ui/dialog.h"

namespace talvo {
namespace {

constexpr std::uint32_t kMsgCount = msg::kApp + 9;

const ControlTemplate kControls[] = {
    {kIdOk, ControlKind::DefaultPushButton, u"OK", 0, 10, 10, 50, 14, kCtlTabStop},
};
const DialogTemplate kTemplate{
    950, kDlgPopup | kDlgCaption, 100, 40, u"MS Shell Dlg", 9, u"Bench", kControls};

class CountingDlg : public Dialog {
  public:
    CountingDlg() : Dialog(950) {}
    std::atomic<std::uint64_t> received{0};
    std::intptr_t OnCount(std::uintptr_t, std::intptr_t) {
        received.fetch_add(1, std::memory_order_relaxed);
        return 0;
    }

  protected:
    const MessageMap* GetMessageMap() const override {
        static const MessageMapEntry entries[] = {
            OnMessage<CountingDlg, &CountingDlg::OnCount>(kMsgCount),
        };
        static const MessageMap map{Dialog::GetMessageMap(), entries};
        return &map;
    }
};

void BM_PostAndDispatch(benchmark::State& state) {
    HeadlessBackend backend([](int id) { return id == 950 ? &kTemplate : nullptr; });
    testing::UiThread ui(backend);
    testing::UiObject<CountingDlg> dlg(ui);
    ui.Call([&] { return dlg->Create(); });
    auto target = ui.Call([&] { return dlg->CreateMessageTarget(); });
    const auto batch = static_cast<std::uint64_t>(state.range(0));
    std::uint64_t expected = 0;
    for (auto _ : state) {
        std::thread worker([&] {
            for (std::uint64_t i = 0; i < batch; ++i) {
                target->Post(kMsgCount, i, 0);
            }
        });
        worker.join();
        expected += batch;
        while (dlg->received.load(std::memory_order_relaxed) < expected) {
            std::this_thread::yield();
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(expected));
    ui.Call([&] { dlg->DestroyWindow(); });
}
BENCHMARK(BM_PostAndDispatch)->Arg(10000)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace talvo

BENCHMARK_MAIN();
