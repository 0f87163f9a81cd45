#pragma once
// How connecting asks the user for corrected connection parameters. The
// dialog program installs one that shows the connection parameters dialog;
// without one (command-line front end) the request ends as a cancel.
#include <string>

struct ConnectionParamsRequest {
    std::u16string Title; // why the dialog is open
    std::string Sect;     // settings section that OK writes
    int Kind = 0;         // database kind; outside 0-2 nothing is selected
    std::string Server;   // 8-bit texts as read from the section
    std::string Database;
    std::string UserName;
    std::string Password; // plain
};

class ConnectionParamsPrompt {
public:
    static constexpr int mrOk = 1;
    static constexpr int mrCancel = 2;

    virtual ~ConnectionParamsPrompt() = default;
    // Shows the dialog modally; returns its modal result (mrOk after the
    // section was written).
    virtual int ShowModal(const ConnectionParamsRequest& request) = 0;
};
