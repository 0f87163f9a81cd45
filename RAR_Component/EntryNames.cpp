#include "EntryNames.h"

char pathSeparator()
{
#ifdef _WIN32
    return '\\';
#else
    return '/';
#endif
}

bool isNameSeparator(char16_t c)
{
#ifdef _WIN32
    return c == u'\\' || c == u'/' || c == u':';
#else
    return c == u'/';
#endif
}

std::u16string lastNameComponent(const std::u16string& name)
{
    for (std::size_t i = name.size(); i > 0; --i) {
        if (isNameSeparator(name[i - 1]))
            return name.substr(i);
    }
    return name;
}

bool isPlainFileName(const std::u16string& component)
{
    if (component.empty() || component == u"." || component == u"..")
        return false;
    for (char16_t c : component) {
        if (isNameSeparator(c))
            return false;
    }
#ifdef _WIN32
    // Windows drops trailing dots and blanks, so "..." or ". ." would name the folder itself or its parent.
    if (component.find_first_not_of(u". ") == std::u16string::npos)
        return false;
#endif
    return true;
}
