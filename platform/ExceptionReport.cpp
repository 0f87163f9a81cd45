#include "ExceptionReport.h"

#include "TextCodec.h"

#include <stdexcept>

namespace platform {

std::u16string exceptionText(const std::exception_ptr& e)
{
    try {
        std::rethrow_exception(e);
    } catch (const std::exception& ex) {
        return toUtf16(ex.what());
    } catch (...) {
        return u"Unknown exception";
    }
}

bool runGuarded(Messages& messages, const std::function<void()>& handler)
{
    try {
        handler();
        return true;
    } catch (...) {
        messages.error(exceptionText(std::current_exception()));
        return false;
    }
}

} // namespace platform
