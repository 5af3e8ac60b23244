// A message presenter for tests: remembers every message shown and answers from a queue.
#pragma once

#include <deque>
#include <mutex>
#include <vector>

#include "app/message_presenter.h"

namespace krevol::test {

class RecordingPresenter : public MessagePresenter {
public:
    RecordingPresenter() { setMessagePresenter(this); }
    ~RecordingPresenter() override { setMessagePresenter(nullptr); }

    // The answers given to the next boxes, in order; once empty, OK boxes get 1 and questions 2.
    void answerNext(int answer) {
        std::lock_guard lock(mutex_);
        answers_.push_back(answer);
    }

    int present(const ShownMessage& message) override {
        std::lock_guard lock(mutex_);
        shown_.push_back(message);
        if (!answers_.empty()) {
            const int a = answers_.front();
            answers_.pop_front();
            return a;
        }
        return message.type == kBoxOk ? kAnswerFirst : kAnswerSecond;
    }

    std::vector<ShownMessage> shown() const {
        std::lock_guard lock(mutex_);
        return shown_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        shown_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<ShownMessage> shown_;
    std::deque<int> answers_;
};

}  // namespace krevol::test
