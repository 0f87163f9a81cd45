#include "services/Help.h"

#include "platform/ExecutablePath.h"
#include "platform/FileOps.h"
#include "platform/TextCodec.h"

namespace services {

namespace {

constexpr std::uint16_t kHelpCommandContents = 0;
constexpr std::uint16_t kHelpCommandContext = 1;

// A plain box carries the application's title, as the system's own message boxes do.
std::u16string applicationTitle()
{
    return platform::displayPath(platform::executablePath().stem());
}

} // namespace

std::string HelpFileBesideExecutable() { return platform::fromPath(platform::executableFolder() / "Tavrel.chm"); }

bool ShowHelp(const std::string& helpFile, platform::HelpViewer* viewer, platform::Messages& messages,
              std::uint16_t Command, std::int32_t Data, bool& CallHelp)
{
    CallHelp = false;
    // A help viewer that fails counts as no window: the handler never raises.
    const auto show = [viewer](const std::string& address, platform::HelpCommand command) {
        try {
            return viewer != nullptr && viewer->display(address, command);
        } catch (...) {
            return false;
        }
    };
    const auto tell = [&messages](const char16_t* text) { messages.plain(text, applicationTitle()); };

    if (Command == kHelpCommandContents && Data == 0) {
        if (!platform::isExistingFile(helpFile)) {
            tell(u"Файл помощи не найден!");
            return false;
        }
        if (!show(helpFile, platform::HelpCommand::DisplayToc)) {
            tell(u"Help-файл не доступен!");
            return false;
        }
        return true;
    }
    if (Command == kHelpCommandContext) {
        const std::string address = helpFile + "::" + std::to_string(Data) + ".html";
        if (show(address, platform::HelpCommand::DisplayTopic))
            return true;
        tell(platform::isExistingFile(helpFile) ? u"Топик не найден!" : u"Файл помощи не найден!");
        return false;
    }
    return false;
}

} // namespace services
