#pragma once
// Decides where a stored link would point, without asking the file system:
// the target is resolved lexically from the link's own folder and must stay
// below the destination all the way.
#include <string>
#include <vector>

namespace unrar {

struct ResolvedTarget {
    std::vector<std::string> components; // the target, relative to the destination
    // Every folder the walk enters on the way (also those left again by a
    // later ".."), as '/'-joined paths relative to the destination. Each must
    // be a real folder, never a link, or the lexical answer would be wrong.
    std::vector<std::string> passes;
};

// `linkFolder` holds the components of the folder the link is created in,
// relative to the destination. Refused (false): empty or absolute targets,
// drive letters, UNC and device forms, embedded zeros, and any ".." that
// climbs above the destination at any point of the walk.
bool resolveLinkTarget(const std::vector<std::string>& linkFolder, const std::string& target, ResolvedTarget& out);

} // namespace unrar
