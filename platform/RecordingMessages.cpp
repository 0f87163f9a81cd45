#include "RecordingMessages.h"

#include "TextCodec.h"

namespace platform {

void RecordingMessages::error(const std::u16string& text) { record(MessageKind::Error, text, {}); }

void RecordingMessages::information(const std::u16string& text) { record(MessageKind::Information, text, {}); }

void RecordingMessages::plain(const std::u16string& text, const std::u16string& caption)
{
    record(MessageKind::Plain, text, caption);
}

bool RecordingMessages::question(const std::u16string& text, const std::u16string& caption)
{
    bool yes = false;
    if (!answers_.empty()) {
        yes = answers_.front();
        answers_.pop_front();
    }
    record(MessageKind::Question, text, caption);
    return yes;
}

std::vector<std::string> RecordingMessages::texts() const
{
    std::vector<std::string> result;
    result.reserve(recorded_.size());
    for (const auto& m : recorded_)
        result.push_back(m.text);
    return result;
}

void RecordingMessages::record(MessageKind kind, const std::u16string& text, const std::u16string& caption)
{
    recorded_.push_back({kind, toUtf8(text), toUtf8(caption)});
    if (onMessage)
        onMessage(recorded_.back());
}

} // namespace platform
