#include "boardsim/alias.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vantrel::boardsim {

bool makeDirs(const std::string& dir) {
    for (std::size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos == dir.size() || dir[pos] == '/') {
            const std::string part = dir.substr(0, pos);
            if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
        }
    }
    return true;
}

bool placeLink(const std::string& link, const std::string& target) {
    const std::string temp = link + ".new" + std::to_string(getpid());
    unlink(temp.c_str());
    if (symlink(target.c_str(), temp.c_str()) != 0) return false;
    if (rename(temp.c_str(), link.c_str()) != 0) {
        unlink(temp.c_str());
        return false;
    }
    return true;
}

void removeLink(const std::string& link, const std::string& target) {
    if (link.empty()) return;
    std::vector<char> buffer(4096);
    const ssize_t length = readlink(link.c_str(), buffer.data(), buffer.size());
    if (length >= 0 && std::string(buffer.data(), static_cast<std::size_t>(length)) == target) unlink(link.c_str());
}

AliasLinks AliasLinks::forPort(const std::string& dir, int com, bool throughTarget) {
    AliasLinks links;
    links.alias = dir + "/com" + std::to_string(com);
    if (throughTarget) links.target = dir + "/.com" + std::to_string(com) + ".target";
    return links;
}

bool AliasLinks::place(const std::string& ptyPath) {
    if (!target.empty()) {
        if (!placeLink(target, ptyPath)) return false;
        targetPlaced = true;
    }
    if (!placeLink(alias, aliasDestination(ptyPath))) return false;
    aliasPlaced = true;
    return true;
}

bool AliasLinks::placeDangling() {
    if (target.empty() || !placeLink(alias, target)) return false;
    aliasPlaced = true;
    return true;
}

void AliasLinks::remove(const std::string& ptyPath) {
    if (aliasPlaced) removeLink(alias, aliasDestination(ptyPath));
    if (targetPlaced) removeLink(target, ptyPath);
    aliasPlaced = targetPlaced = false;
}

}  // namespace vantrel::boardsim
