// Times the ProjectStore operations on catalogues of 1,000, 10,000 and
// 100,000 projects against two floors measured in the same run on the same
// file: reading the file once and parsing it once (for walks and reads), and
// that plus writing the whole file anew, flushing it and renaming it into
// place (for changes). Ends with one summary line per case.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/state.h"
#include "store/profile.h"
#include "store/profile_file.h"
#include "store/project_store.h"
#include "tests/support/temp_folder.h"

namespace quillory {
namespace {

using namespace texts;

constexpr std::int32_t sizes[] = {1'000, 10'000, 100'000};

// Timed runs per case; the median of them is reported.
int runsFor(std::int32_t n) {
    return n >= 100'000 ? 7 : n >= 10'000 ? 11 : 21;
}

double seconds() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Text of exactly length bytes: the start, then ASCII letters.
std::string padded(std::string start, size_t length) {
    for (char c = 'a'; start.size() < length; c = c == 'z' ? 'a' : char(c + 1)) start += c;
    return start;
}

std::string number(std::int32_t i) {
    std::string digits = std::to_string(i);
    return std::string(6 - std::min<size_t>(6, digits.size()), '0') + digits;
}

std::string nameOf(std::int32_t i) {
    return "工程" + number(i);  // 10 bytes
}
std::string briefOf(std::int32_t i) {
    return padded("第" + number(i) + "号：记录日常开支的小工具 ", 60);
}
std::string pathOf(std::int32_t i) {
    return padded("D:\\代码\\p" + number(i) + "\\", 30);
}

// The catalogue file as its bytes: three sections of n projects, each ended
// by the end marker at n + 1, CR LF line ends.
std::string catalogueBytes(std::int32_t n) {
    std::string out;
    auto section = [&](std::string_view name, std::string (*value)(std::int32_t)) {
        out += '[';
        out += name;
        out += "]\r\n";
        for (std::int32_t i = 1; i <= n; ++i) {
            out += std::to_string(i);
            out += '=';
            out += value(i);
            out += "\r\n";
        }
        out += std::to_string(n + 1);
        out += '=';
        out += endMarker;
        out += "\r\n";
    };
    section(nameSection, nameOf);
    section(briefSection, briefOf);
    section(pathSection, pathOf);
    return out;
}

bool writeFile(const std::filesystem::path& file, std::string_view bytes, int flags) {
    int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC | flags, 0644);
    if (fd < 0) return false;
    bool ok = true;
    for (std::string_view rest = bytes; ok && !rest.empty();) {
        ssize_t n = ::write(fd, rest.data(), rest.size());
        ok = n > 0;
        if (ok) rest.remove_prefix(size_t(n));
    }
    ok = ::fsync(fd) == 0 && ok;
    return ::close(fd) == 0 && ok;
}

struct Catalogue {
    testing::TempFolder folder;
    std::string bytes;
    bool changed = true;  // the file may differ from bytes
    explicit Catalogue(std::int32_t n) : bytes(catalogueBytes(n)) {}

    // Puts the original file back, flushed, so every timed run starts alike.
    bool restore() {
        changed = !writeFile(folder.catalogue(), bytes, O_CREAT | O_TRUNC);
        return !changed;
    }
};

Catalogue& catalogue(std::int32_t n) {
    static std::map<std::int32_t, std::unique_ptr<Catalogue>> made;
    auto& c = made[n];
    if (!c) c = std::make_unique<Catalogue>(n);
    runDirectory = c->folder.path();
    return *c;
}

bool anyFailed = false;

// Milliseconds of every timed run of an operation and of its floor, by case.
struct Samples {
    std::vector<double> times;
    std::vector<double> floors;
};
std::map<std::pair<std::string, std::int32_t>, Samples> samples;

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// An operation returns an error text, empty when it did what it should.
using Operation = std::string (*)(std::int32_t n);

std::string readFloor(std::int32_t) {
    auto read = files::readWhole(ProjectStore::filePath());
    if (!read || !read.value().exists) return "read failed";
    auto doc = profile::Document::parse(std::move(read.value().bytes));
    benchmark::DoNotOptimize(doc);
    return {};
}

std::string writeFloor(std::int32_t) {
    const auto file = ProjectStore::filePath();
    auto read = files::readWhole(file);
    if (!read || !read.value().exists) return "read failed";
    auto fresh = file;
    fresh += ".bench";
    if (!writeFile(fresh, read.value().bytes, O_CREAT | O_EXCL)) return "write failed";
    if (::rename(fresh.c_str(), file.c_str()) != 0) return "rename failed";
    auto doc = profile::Document::parse(std::move(read.value().bytes));
    benchmark::DoNotOptimize(doc);
    return {};
}

std::string walk(std::int32_t n) {
    std::int64_t seen = 0;
    auto walked = ProjectStore::scan([&](const Text& name, std::int32_t) { seen += name.size(); });
    benchmark::DoNotOptimize(seen);
    if (!walked || endIndex != n + 1) return "walk did not reach the end marker";
    return {};
}

std::string readLastField(std::int32_t n) {
    auto read = ProjectStore::readField(pathSection, n + 1, error);
    if (!read || read.value() != endMarker) return "read the wrong value";
    return {};
}

std::string append(std::int32_t) {
    auto added = ProjectStore::appendProject("新项目abc", "新加的项目，用来测试追加 appended",
                                             "E:\\新\\appended");
    return added ? "" : "append failed";
}

std::string update(std::int32_t) {
    auto changed =
        ProjectStore::updateProject(1, "改过的名字", "改过的简介 changed brief", "F:\\改\\changed");
    return changed ? "" : "update failed";
}

std::string removeFirst(std::int32_t) {
    selectedIndex = 1;
    auto removed = ProjectStore::removeProject();
    return removed ? "" : "remove failed";
}

// An operation, the floor it is measured against, and whether it changes the
// file (so that the file is put back before each run of either).
struct Case {
    const char* name;
    Operation run;
    Operation floor;
    bool changesFile;
};

constexpr Case cases[] = {
    {"walk", walk, readFloor, false},          {"readField", readLastField, readFloor, false},
    {"append", append, writeFloor, true},      {"update", update, writeFloor, true},
    {"remove", removeFirst, writeFloor, true},
};

// Milliseconds one run of op takes, or a negative number when it failed.
double timed(Catalogue& file, Operation op, std::int32_t n, bool changesFile,
             std::string& failure) {
    if ((changesFile || file.changed) && !file.restore()) {
        failure = "cannot restore the catalogue";
        return -1;
    }
    const double start = seconds();
    failure = op(n);
    const double took = seconds() - start;
    file.changed = changesFile;
    return failure.empty() ? took * 1e3 : -1;
}

// Each timed run of the operation follows a timed run of its floor, so the
// two meet the same state of the machine.
void runCase(benchmark::State& state, const Case& c, std::int32_t n) {
    Catalogue& file = catalogue(n);
    Samples& mine = samples[{c.name, n}];
    std::string failure;
    // One untimed run of each first, so that no timed run pays for the first
    // touch of the allocator's memory or the file's pages.
    timed(file, c.floor, n, c.changesFile, failure);
    timed(file, c.run, n, c.changesFile, failure);
    for (auto _ : state) {
        const double floor = timed(file, c.floor, n, c.changesFile, failure);
        const double took = floor < 0 ? -1 : timed(file, c.run, n, c.changesFile, failure);
        if (took < 0) {
            anyFailed = true;
            state.SkipWithError(failure.c_str());
            break;
        }
        state.SetIterationTime(took / 1e3);
        mine.floors.push_back(floor);
        mine.times.push_back(took);
    }
    if (!mine.floors.empty()) state.counters["floor_ms"] = median(mine.floors);
}

// One summary line per case: the median of its runs against the median of
// its floor's runs.
void printSummary() {
    for (std::int32_t n : sizes) {
        for (const Case& c : cases) {
            auto found = samples.find({c.name, n});
            if (found == samples.end() || found->second.times.empty()) continue;
            const double ms = median(found->second.times);
            const double floorMs = median(found->second.floors);
            std::printf("%s N=%d ms=%.3f floor_ms=%.3f ratio=%.2f\n", c.name, n, ms, floorMs,
                        ms / floorMs);
        }
    }
}

}  // namespace
}  // namespace quillory

int main(int argc, char** argv) {
    using namespace quillory;
    for (std::int32_t n : sizes) {
        for (const Case& c : cases) {
            const std::string name = std::string(c.name) + "/N=" + std::to_string(n);
            benchmark::RegisterBenchmark(name.c_str(), runCase, c, n)
                ->UseManualTime()
                ->Iterations(runsFor(n))
                ->Unit(benchmark::kMillisecond);
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::fflush(stdout);
    printSummary();
    return anyFailed ? 1 : 0;
}
