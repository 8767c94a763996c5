// tessly_sysfs_trees: writes a sysfs tree for the whole-process comparison (bench/compare) from one
// of the project's fixture machines, optionally the same machine several times over.
//
// Usage: tessly_sysfs_trees FIXTURE COPIES OUTDIR
//   FIXTURE  a machine of platform/linux/tests/fixtures, e.g. "intel-raptorlake"
//   COPIES   how many times the machine appears: copy k shifts its chip numbers by k times one
//            more than the machine's highest hwmon number, and renames its power supplies
//            NAME -> NAME_k
//   OUTDIR   where the tree goes; it must not exist yet
// Chips that the fixture gives as plain class/hwmon/hwmonN directories are laid out as platform
// devices (see machine() below), so that the copies are distinct devices to every reader.
// Prints the number of chips and of value files (temp and fan inputs) written.
//
// The tree is built by the test materialiser (SysfsTree) in a temporary directory and copied out
// with its symbolic links. Entries that fail reads with an errno in the fixture ("!") become empty
// files here: injected errors exist only for the test reader.

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "SysfsTree.h"

namespace {
namespace fs = std::filesystem;

std::string fixtureText(const std::string& name) {
    std::ifstream in(std::string(TESSLY_LINUX_FIXTURES) + "/" + name + ".tree");
    if (!in) throw std::runtime_error("no fixture " + name);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Section {
    std::string header;  // the directory between the brackets; empty before the first one
    std::vector<std::string> lines;
};

std::vector<Section> sections(const std::string& text) {
    std::vector<Section> out(1);
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const auto first = line.find_first_not_of(" \t\r");
        if (first != std::string::npos && line[first] == '[') {
            const auto close = line.find(']', first);
            out.push_back({line.substr(first + 1, close - first - 1), {}});
        } else {
            out.back().lines.push_back(line);
        }
    }
    return out;
}

std::string trimmed(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

// The number N of a "class/hwmon/hwmonN" section that holds the chip's files directly.
std::optional<unsigned long> plainChip(const Section& section) {
    static const std::regex header(R"(class/hwmon/hwmon(\d+))");
    std::smatch m;
    if (!std::regex_match(section.header, m, header)) return std::nullopt;
    for (const auto& line : section.lines) {
        if (trimmed(line).starts_with("device")) return std::nullopt;  // older layout: keep as is
    }
    return std::stoul(m[1].str());
}

std::string chipName(const Section& section) {
    static const std::regex name(R"(^\s*name\s*=\s*([A-Za-z0-9_]+)\s*$)");
    for (const auto& line : section.lines) {
        std::smatch m;
        if (std::regex_match(line, m, name)) return m[1].str();
    }
    return "hwmon";
}

// Every "hwmonN" in `line` shifted by `offset`, every supply renamed for copy `copy`.
std::string renumbered(const std::string& line, unsigned long offset, unsigned copy) {
    if (copy == 0) return line;
    static const std::regex hwmon(R"(hwmon(\d+))");
    static const std::regex supply(R"(power_supply/([A-Za-z0-9_.:-]+))");
    std::string shifted;
    auto begin = line.cbegin();
    for (std::sregex_iterator it(line.begin(), line.end(), hwmon), end; it != end; ++it) {
        const auto& m = *it;
        shifted.append(begin, m[0].first);
        shifted += "hwmon" + std::to_string(std::stoul(m[1].str()) + offset);
        begin = m[0].second;
    }
    shifted.append(begin, line.cend());
    return std::regex_replace(shifted, supply, "power_supply/$1_" + std::to_string(copy));
}

// The machine `copies` times over, in the tree text format. A chip whose fixture gives its
// files directly under class/hwmon/hwmonN is laid out as the kernel lays out a platform device:
// the class entry links to devices/platform/<name>.<i>/hwmon/hwmonN, whose "device" links back
// to the device, whose "subsystem" links to bus/platform. So every chip of every copy is a device
// of its own, for every reader.
std::string machine(const std::string& text, unsigned copies) {
    const auto parts = sections(text);
    unsigned long stride = 0;
    for (const auto& part : parts) {
        static const std::regex any(R"(class/hwmon/hwmon(\d+))");
        std::smatch m;
        if (std::regex_match(part.header, m, any)) {
            stride = std::max(stride, std::stoul(m[1].str()) + 1);
        }
    }
    std::map<std::string, unsigned> devicesNamed;
    std::string out = "[bus/platform]\n";
    for (unsigned k = 0; k < copies; ++k) {
        const unsigned long offset = stride * k;
        for (const auto& part : parts) {
            if (const auto number = plainChip(part)) {
                const std::string hwmon = "hwmon" + std::to_string(*number + offset);
                const std::string name = chipName(part);
                const std::string device = name + "." + std::to_string(devicesNamed[name]++);
                const std::string dir = "devices/platform/" + device;
                out += "[class/hwmon]\n" + hwmon + " -> ../../" + dir + "/hwmon/" + hwmon + "\n";
                out += "[" + dir + "]\nsubsystem -> ../../../bus/platform\n";
                out += "[" + dir + "/hwmon/" + hwmon + "]\ndevice -> ../../../" + device + "\n";
                for (const auto& line : part.lines) {
                    out += line + "\n";
                }
                continue;
            }
            if (!part.header.empty()) out += "[" + renumbered(part.header, offset, k) + "]\n";
            for (const auto& line : part.lines) {
                out += renumbered(line, offset, k) + "\n";
            }
        }
    }
    return out;
}

// The chips under class/hwmon and their temperature and fan inputs.
std::pair<std::size_t, std::size_t> census(const fs::path& root) {
    static const std::regex value(R"((temp|fan)\d+_input)");
    std::size_t chips = 0, values = 0;
    const fs::path hwmon = root / "class" / "hwmon";
    if (!fs::exists(hwmon)) return {0, 0};
    for (const auto& chip : fs::directory_iterator(hwmon)) {
        ++chips;
        for (const auto& file : fs::directory_iterator(chip.path())) {
            if (std::regex_match(file.path().filename().string(), value)) ++values;
        }
    }
    return {chips, values};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s FIXTURE COPIES OUTDIR\n", argv[0]);
        return 2;
    }
    try {
        const std::string text = fixtureText(argv[1]);
        const unsigned copies = static_cast<unsigned>(std::stoul(argv[2]));
        const fs::path out = argv[3];
        if (copies == 0) throw std::runtime_error("COPIES must be at least 1");
        if (fs::exists(out)) throw std::runtime_error(out.string() + " exists already");

        tessly::hwmon::testing::SysfsTree tree(machine(text, copies));
        fs::create_directories(out.parent_path().empty() ? fs::path(".") : out.parent_path());
        fs::copy(tree.root(), out, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        const auto [chips, values] = census(out);
        std::printf("%zu chips, %zu value files\n", chips, values);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tessly_sysfs_trees: %s\n", e.what());
        return 1;
    }
}
