#include "app/system/DataDirectory.h"

#include <pwd.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace velmora {

namespace {

namespace fs = std::filesystem;

std::string normalised(const std::string& path) {
    std::string text = fs::path(path).lexically_normal().string();
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    return text;
}

bool sameDirectory(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) {
        return false;
    }
    std::error_code error;
    return fs::equivalent(a, b, error) || normalised(a) == normalised(b);
}

} // namespace

DataDirectory::Choice DataDirectory::choose(const Facts& facts) {
    Choice choice;
    if (facts.hasExplicit) {
        const fs::path given(facts.explicitDirectory);
        choice.directory =
            normalised(given.is_absolute() ? given.string() : (fs::path(facts.workingDirectory) / given).string());
        return choice;
    }
    const bool chosen = !facts.workingDirectory.empty() && !sameDirectory(facts.workingDirectory, "/") &&
                        !sameDirectory(facts.workingDirectory, facts.homeDirectory);
    if (chosen) {
        choice.directory = normalised(facts.workingDirectory);
        return choice;
    }
    // XDG rule: a relative XDG_DATA_HOME is invalid and ignored.
    std::string base = facts.xdgDataHome;
    if (base.empty() || base[0] != '/') {
        base = (facts.homeDirectory.empty() ? std::string("/") : facts.homeDirectory) + "/.local/share";
    }
    choice.directory = normalised(base + "/velmora");
    choice.perUser = true;
    return choice;
}

DataDirectory::Choice DataDirectory::fromEnvironment(bool hasExplicit, const std::string& explicitDirectory) {
    Facts facts;
    facts.hasExplicit = hasExplicit;
    facts.explicitDirectory = explicitDirectory;
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) != nullptr) {
        facts.workingDirectory = cwd;
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        facts.homeDirectory = home;
    } else if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) {
        facts.homeDirectory = entry->pw_dir;
    }
    if (const char* xdg = std::getenv("XDG_DATA_HOME")) {
        facts.xdgDataHome = xdg;
    }
    return choose(facts);
}

bool DataDirectory::create(const std::string& directory) {
    std::error_code error;
    if (fs::is_directory(directory, error)) {
        return true;
    }
    fs::path made;
    for (const fs::path& part : fs::path(directory)) {
        made /= part;
        if (fs::exists(made, error)) {
            continue;
        }
        if (!fs::create_directory(made, error)) {
            return fs::is_directory(made, error);
        }
        fs::permissions(made, fs::perms::owner_all, fs::perm_options::replace, error);
    }
    return fs::is_directory(directory, error);
}

bool DataDirectory::linkImages(const std::string& directory, const std::string& sharedImages) {
    std::error_code error;
    const fs::path images = fs::path(directory) / "images";
    const fs::file_status own = fs::symlink_status(images, error);
    if (fs::exists(own) && !fs::is_symlink(own)) {
        return fs::is_directory(own);
    }
    if (fs::is_symlink(own)) {
        if (fs::is_directory(images, error)) {
            return true;
        }
        fs::remove(images, error); // a link that leads nowhere
    }
    if (sharedImages.empty() || !fs::is_directory(sharedImages, error)) {
        return false;
    }
    fs::create_directory_symlink(sharedImages, images, error);
    return !error && fs::is_directory(images, error);
}

} // namespace velmora
