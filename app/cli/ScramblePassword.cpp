#include "ScramblePassword.h"

#include "db/Scramble.h"
#include "platform/ConsoleText.h"
#include "platform/TextCodec.h"

#include <iostream>
#include <string>

int scramblePassword()
{
    const std::optional<std::string> password = platform::readInputLine(true, "Password: ");
    if (!password) {
        std::cerr << "tavrel-update: no password on standard input" << std::endl;
        return 64;
    }
    // Tavrel.INI holds the password in the system's ANSI code page.
    std::cout << scramble::XorEncode(platform::utf16ToAnsi(platform::toUtf16(*password))) << std::endl;
    return 0;
}
