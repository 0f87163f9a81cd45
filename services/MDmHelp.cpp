// The data module's creation handler and its help handler.
#include "db/MDm.h"

#include "platform/ExecutablePath.h"
#include "platform/FileOps.h"
#include "platform/TextCodec.h"

std::string MyHelpFile;

namespace {

constexpr std::uint16_t kHelpCommandContents = 0;
constexpr std::uint16_t kHelpCommandContext = 1;

// A plain box carries the application's title, as the system's own message boxes do.
std::u16string applicationTitle()
{
    return platform::ansiToUtf16(platform::fromPath(platform::executablePath().stem()));
}

} // namespace

void TMainDM::DataModuleCreate()
{
    MyHelpFile = platform::fromPath(platform::executableFolder() / "Tavrel.chm");
}

bool TMainDM::HH(std::uint16_t Command, std::int32_t Data, bool& CallHelp)
{
    CallHelp = false;
    // A help viewer that fails counts as no window: the handler never raises.
    const auto show = [this](const std::string& address, platform::HelpCommand command) {
        try {
            return helpViewer_ != nullptr && helpViewer_->display(address, command);
        } catch (...) {
            return false;
        }
    };
    const auto tell = [this](const char16_t* text) { messages_.plain(text, applicationTitle()); };

    if (Command == kHelpCommandContents && Data == 0) {
        if (!platform::isExistingFile(MyHelpFile)) {
            tell(u"Файл помощи не найден!");
            return false;
        }
        if (!show(MyHelpFile, platform::HelpCommand::DisplayToc)) {
            tell(u"Help-файл не доступен!");
            return false;
        }
        return true;
    }
    if (Command == kHelpCommandContext) {
        const std::string address = MyHelpFile + "::" + std::to_string(Data) + ".html";
        if (show(address, platform::HelpCommand::DisplayTopic))
            return true;
        tell(platform::isExistingFile(MyHelpFile) ? u"Топик не найден!" : u"Файл помощи не найден!");
        return false;
    }
    return false;
}
