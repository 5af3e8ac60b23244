#include "app/message_presenter.h"

#include <atomic>
#include <cstdio>

#include "app/messages.h"

namespace krevol {

namespace {
std::atomic<MessagePresenter*> g_presenter{nullptr};
thread_local int t_heldBack = 0;

int present(ShownMessage message) {
    if (t_heldBack > 0) return message.type == kBoxOk ? kAnswerFirst : kAnswerSecond;
    if (MessagePresenter* p = g_presenter.load()) return p->present(message);
    std::fprintf(stderr, "%s\n", message.text.c_str());
    return message.type == kBoxOk ? kAnswerFirst : kAnswerSecond;
}
}  // namespace

HeldBackMessages::HeldBackMessages() { ++t_heldBack; }
HeldBackMessages::~HeldBackMessages() { --t_heldBack; }

void setMessagePresenter(MessagePresenter* presenter) { g_presenter.store(presenter); }
MessagePresenter* messagePresenter() { return g_presenter.load(); }

std::string errorBoxText(int code, const std::string& text) {
    if (code == 0) return text;
    return text + ":" + std::to_string(code);
}

int showMessageBox(const std::string& text, int type) { return present({0, 0, text, type}); }

int showErrorBox(int code, const std::string& text) {
    return present({0, code, errorBoxText(code, text), kBoxOk});
}

int showMessage(int id, int type) { return present({id, 0, loadText(id), type}); }

int showError(int id, int code) { return present({id, code, errorBoxText(code, loadText(id)), kBoxOk}); }

}  // namespace krevol
