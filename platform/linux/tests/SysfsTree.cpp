#include "SysfsTree.h"

#include <stdlib.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/linux/SensorReport.h"

#ifndef TESSLY_LINUX_FIXTURES
#error "TESSLY_LINUX_FIXTURES must name the fixtures directory"
#endif

namespace tessly::hwmon::testing {
namespace fs = std::filesystem;

std::string FaultyFileReader::resolved(const std::string& path) {
    std::error_code ignored;
    return fs::weakly_canonical(path, ignored).string();
}

namespace {

int errnoNamed(std::string_view name) {
    static const std::map<std::string_view, int> names{
        {"EIO", EIO},       {"ENODATA", ENODATA}, {"ENXIO", ENXIO},   {"EINVAL", EINVAL},
        {"EAGAIN", EAGAIN}, {"ENODEV", ENODEV},   {"ENOENT", ENOENT}, {"EACCES", EACCES},
    };
    const auto it = names.find(name);
    if (it == names.end()) throw std::invalid_argument("unknown errno " + std::string(name));
    return it->second;
}

// "\xNN" and "\\" escapes.
std::string unescape(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\\') {
            out += '\\';
            ++i;
        } else if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
            out += static_cast<char>(std::stoi(std::string(text.substr(i + 2, 2)), nullptr, 16));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string_view trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

SysfsTree::SysfsTree(std::string_view description) {
    const fs::path base = fs::temp_directory_path() / "tessly-sysfs.XXXXXX";
    std::string pattern = base.string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    add(description);
}

SysfsTree SysfsTree::fixture(std::string_view name) {
    std::ifstream in(std::string(TESSLY_LINUX_FIXTURES) + "/" + std::string(name) + ".tree");
    if (!in) throw std::runtime_error("no fixture " + std::string(name));
    std::stringstream text;
    text << in.rdbuf();
    return SysfsTree(text.str());
}

SysfsTree::~SysfsTree() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

std::string SysfsTree::path(std::string_view relative) const {
    return root_ + "/" + std::string(relative);
}

void SysfsTree::add(std::string_view description) {
    std::string dir;
    std::istringstream lines{std::string(description)};
    for (std::string raw; std::getline(lines, raw);) {
        const std::string_view line = trim(raw);
        if (line.empty() || line.front() == '#') continue;
        if (line.front() == '[') {
            dir = std::string(line.substr(1, line.size() - 2)) + "/";
            fs::create_directories(path(dir));
            continue;
        }
        if (line.back() == '/') {
            fs::create_directories(path(dir + std::string(line)));
            continue;
        }
        const auto space = line.find(' ');
        const std::string file = dir + std::string(line.substr(0, space));
        const std::string_view rest =
            space == std::string_view::npos ? "" : trim(line.substr(space));
        if (rest.starts_with("->")) {
            fs::create_directories(fs::path(path(file)).parent_path());
            fs::create_directory_symlink(trim(rest.substr(2)), path(file));
        } else if (rest.starts_with(":=")) {
            write(file, unescape(trim(rest.substr(2))));
        } else if (rest.starts_with("=")) {
            write(file, unescape(trim(rest.substr(1))) + "\n");
        } else if (rest.starts_with("!")) {
            write(file, "");
            reader_.failReads(path(file), errnoNamed(trim(rest.substr(1))));
        } else {
            throw std::invalid_argument("bad tree line: " + raw);
        }
    }
}

void SysfsTree::write(std::string_view relative, std::string_view content) {
    const fs::path file = path(relative);
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) throw std::runtime_error("cannot write " + file.string());
}

std::string reportText(const std::string& root, FileReader& reader) {
    std::ostringstream out;
    for (const auto& e : reportSensors(root, reader)) {
        out << e.path.substr(root.size() + 1) << '|' << e.chip << '|' << e.label << '|'
            << (e.feeds.empty() ? e.whyIgnored : e.feeds) << '|'
            << (e.value            ? std::to_string(*e.value)
                : e.readError != 0 ? ioErrorText(e.readError)
                                   : "no value")
            << '\n';
    }
    return out.str();
}

}  // namespace tessly::hwmon::testing
