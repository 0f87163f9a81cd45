#include "unrar/src/LinkTarget.h"

#include "unrar/src/SafePath.h"

namespace unrar {

bool resolveLinkTarget(const std::vector<std::string>& linkFolder, const std::string& target, ResolvedTarget& out)
{
    out = {};
    std::vector<std::string> steps;
    if (!splitRelativeName(target, steps))
        return false;
    std::erase(steps, std::string("."));
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
