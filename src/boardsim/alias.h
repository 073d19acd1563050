#pragma once

#include <string>

namespace vantrel::boardsim {

// Makes `dir` and every missing parent.
bool makeDirs(const std::string& dir);

// Replaces `link` by a symbolic link to `target` in one step, so the loader
// never sees it half made.
bool placeLink(const std::string& link, const std::string& target);

// Removes `link` only while it still points at `target`: another program
// may have taken the name since.
void removeLink(const std::string& link, const std::string& target);

// The alias comN in the ports folder and, for a port whose device node comes
// late, the hidden link .comN.target it points through.
struct AliasLinks {
    std::string alias;
    std::string target;  // empty unless the alias points through a target link
    bool aliasPlaced = false;
    bool targetPlaced = false;

    // `dir`: the ports folder; `throughTarget`: point through .comN.target.
    static AliasLinks forPort(const std::string& dir, int com, bool throughTarget);

    std::string aliasDestination(const std::string& ptyPath) const { return target.empty() ? ptyPath : target; }
    bool place(const std::string& ptyPath);
    // Only the target is late: the alias already dangles.
    bool placeDangling();
    void remove(const std::string& ptyPath);
};

}  // namespace vantrel::boardsim
