#pragma once
// Keeps every message in order instead of showing it; used by tests and by
// anything that wants to report messages later.
#include "Messages.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace platform {

struct RecordedMessage {
    MessageKind kind;
    std::string text;    // UTF-8
    std::string caption; // UTF-8, only for plain boxes
};

class RecordingMessages : public Messages {
public:
    void error(const std::u16string& text) override;
    void information(const std::u16string& text) override;
    void plain(const std::u16string& text, const std::u16string& caption) override;
    // Recorded like the other boxes; answers with the next answer set by
    // setNextAnswer, or No (the default button) when none is left.
    bool question(const std::u16string& text, const std::u16string& caption) override;

    // The answer of the next question not yet asked; answers queue up in order.
    void setNextAnswer(bool yes) { answers_.push_back(yes); }

    const std::vector<RecordedMessage>& all() const { return recorded_; }
    std::vector<std::string> texts() const;
    void clear() { recorded_.clear(); }

    // Runs after a message is recorded, as if while the box were open.
    std::function<void(const RecordedMessage&)> onMessage;

private:
    void record(MessageKind kind, const std::u16string& text, const std::u16string& caption);
    std::vector<RecordedMessage> recorded_;
    std::deque<bool> answers_;
};

} // namespace platform
