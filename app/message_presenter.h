// One place through which every message of the program reaches the user.
//
// The core never touches a window: it hands a ShownMessage to the presenter that the
// program installed. The Qt program installs one that shows the skinned box on the
// user-interface thread (a worker waits there until the user answers); krevolctl installs
// one that prints; tests install a recorder that remembers what was shown and answers
// from a queue. Without any presenter the message goes to standard error and the
// cautious answer is returned (1 for an OK box, 2 = "NO" for a question).
#pragma once

#include <string>

namespace krevol {

// Box types: 1 shows one "OK" button; every other value shows "YES" and "NO".
constexpr int kBoxOk = 1;
constexpr int kBoxYesNo = 0;

// Results of a box: the first button (OK / YES, Enter) or the second (NO, close, Escape).
constexpr int kAnswerFirst = 1;
constexpr int kAnswerSecond = 2;

struct ShownMessage {
    int id = 0;            // catalogue id, 0 when the text was composed by the caller
    int code = 0;          // the number appended to the text, 0 for none
    std::string text;      // the final text, exactly as the user sees it
    int type = kBoxOk;     // box type as above
};

class MessagePresenter {
public:
    virtual ~MessagePresenter() = default;
    // Shows the message and returns kAnswerFirst or kAnswerSecond. May be called on any thread.
    virtual int present(const ShownMessage& message) = 0;
};

// Installs the process-wide presenter (nullptr restores the standard-error fallback).
// The presenter must outlive every call made while it is installed.
void setMessagePresenter(MessagePresenter* presenter);
MessagePresenter* messagePresenter();

// The text of an error box: "text:code" when the code is not 0, the text alone otherwise.
std::string errorBoxText(int code, const std::string& text);

// While an object of this class lives, messages shown on the thread that made it reach nobody: OK
// boxes answer 1 and questions 2 at once. For background work whose caller shows one message of its
// own for every way the work can fail (Device Reset's cache fill, refused with message 434).
class HeldBackMessages {
public:
    HeldBackMessages();
    ~HeldBackMessages();
    HeldBackMessages(const HeldBackMessages&) = delete;
    HeldBackMessages& operator=(const HeldBackMessages&) = delete;
};

// The box with a ready-made text.
int showMessageBox(const std::string& text, int type);
// The error box: the text followed by ":" and the code when the code is not 0; one OK button.
int showErrorBox(int code, const std::string& text);

// The same, with the text taken from the catalogue at this moment, in the run's language.
int showMessage(int id, int type = kBoxOk);
int showError(int id, int code);

}  // namespace krevol
