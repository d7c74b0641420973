// Message boxes of the headless backend: a box is a top-level window with
// its text, icon and buttons, run in a nested loop until a button (or the
// close command) answers it; its owner is disabled meanwhile.
#include <algorithm>

#include "tests/headless_ui/headless_backend.h"
#include "tests/headless_ui/headless_node.h"

namespace talvo {

class HeadlessBackend::BoxAdapter final : public IMessageBoxWindow {
  public:
    BoxAdapter(HeadlessBackend& b, WindowRef ref) : b_(b), ref_(ref) {}
    WindowRef Ref() const override { return ref_; }
    void SetCaption(const std::u16string& caption) override {
        if (Node* n = b_.Find(ref_)) {
            n->text = caption;
        }
    }
    bool SetButtonText(int id, const std::u16string& text) override {
        Node* n = b_.Find(ref_);
        if (n == nullptr) {
            return false;
        }
        for (auto& [bid, btext] : n->buttons) {
            if (bid == id) {
                btext = text;
                return true;
            }
        }
        return false;
    }

  private:
    HeadlessBackend& b_;
    WindowRef ref_;
};

std::intptr_t HeadlessBackend::BoxProc(Node& box, std::uint32_t message, std::uintptr_t wParam) {
    if (message == msg::kClose) {
        // A box closes like its Cancel button, or like OK when it has only OK.
        const bool hasCancel = std::any_of(box.buttons.begin(), box.buttons.end(),
                                           [](const auto& b) { return b.first == kIdCancel; });
        box.answer = hasCancel ? kIdCancel : kIdOk;
    } else if (message == msg::kCommand) {
        const int id = static_cast<int>(wParam & 0xFFFF);
        for (const auto& b : box.buttons) {
            if (b.first == id) {
                box.answer = id;
            }
        }
    }
    return 0;
}

int HeadlessBackend::MessageBox(WindowRef owner, const std::u16string& text,
                                const std::u16string& caption, std::uint32_t type,
                                MessageBoxHook hook) {
    loop_.BindToThisThread();
    auto node = std::make_unique<Node>();
    Node& box = *node;
    box.type = Node::Type::Box;
    box.ref = NewRef();
    box.parent = owner;
    box.text = caption;
    box.boxText = text;
    box.boxType = type;
    box.visible = true;
    box.buttons.emplace_back(kIdOk, u"OK");
    if ((type & mb::kButtonMask) == mb::kOkCancel) {
        box.buttons.emplace_back(kIdCancel, u"Cancel");
    }
    box.defaultButton = box.buttons.front().first;
    if ((type & mb::kDefMask) == mb::kDefButton2 && box.buttons.size() > 1) {
        box.defaultButton = box.buttons[1].first;
    }
    const WindowRef ref = box.ref;
    Register(std::move(node));
    topLevel_.push_back(ref.value);
    const bool disabledOwner = Find(owner) != nullptr && IsEnabled(owner);
    if (disabledOwner) {
        Enable(owner, false);
    }
    const WindowRef previousFocus = focus_;
    focus_ = ref;
    if (hook) {
        BoxAdapter adapter(*this, ref);
        hook(adapter);
    }
    RunNestedLoop([&] {
        Node* b = Find(ref);
        return b == nullptr || b->answer != 0;
    });
    Node* answered = Find(ref);
    const int answer = answered != nullptr ? answered->answer : 0;
    if (disabledOwner && Find(owner) != nullptr) {
        Enable(owner, true);
    }
    topLevel_.erase(std::remove(topLevel_.begin(), topLevel_.end(), ref.value), topLevel_.end());
    Unregister(ref);
    if (focus_ == ref) {
        focus_ = Find(previousFocus) != nullptr ? previousFocus : WindowRef{};
    }
    return answer;
}

}  // namespace talvo
