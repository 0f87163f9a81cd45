#pragma once
// Shows the product's compiled help file in a help window, as the system's
// HTML Help does: the table of contents, or one topic page of the file.
#include <string>

namespace platform {

enum class HelpCommand { DisplayTopic = 0, DisplayToc = 1 };

class HelpViewer {
public:
    virtual ~HelpViewer() = default;
    // `address` is the help file's path, followed for a topic by "::" and
    // the page inside the file ("C:\Prog\Tavrel.chm::25.html"). True when a
    // help window now shows it; false when the file or page cannot be shown.
    virtual bool display(const std::string& address, HelpCommand command) = 0;
};

// The help file and the page of an address; the page is empty when the
// address has no "::".
struct HelpAddress {
    std::string file;
    std::string page;
};
HelpAddress splitHelpAddress(const std::string& address);

} // namespace platform
