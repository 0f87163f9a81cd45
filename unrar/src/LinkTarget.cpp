#include "unrar/src/LinkTarget.h"

#include <cctype>

#include "unrar/src/SafePath.h"

namespace unrar {

bool resolveLinkTarget(const std::vector<std::string>& linkFolder, const std::string& target, ResolvedTarget& out)
{
    out = {};
    if (target.empty() || target.find('\0') != std::string::npos)
        return false;
    // '\' counts as a separator whatever the host: a Windows link stores it,
    // and a target that would mean something else on another system is not
    // worth the risk.
    if (target[0] == '/' || target[0] == '\\')
        return false;
    if (target.size() >= 2 && std::isalpha(static_cast<unsigned char>(target[0])) && target[1] == ':')
        return false;
    std::vector<std::string> steps;
    std::string part;
    for (size_t i = 0; i <= target.size(); ++i) {
        if (i < target.size() && target[i] != '/' && target[i] != '\\') {
            part += target[i];
            continue;
        }
        if (!part.empty() && part != ".")
            steps.push_back(part);
        part.clear();
    }
    out.components = linkFolder;
    for (size_t i = 0; i < steps.size(); ++i) {
        if (steps[i] == "..") {
            if (out.components.empty())
                return false;
            out.components.pop_back();
            continue;
        }
        out.components.push_back(steps[i]);
        if (i + 1 < steps.size())
            out.passes.push_back(joinComponents(out.components));
    }
    return true;
}

} // namespace unrar
