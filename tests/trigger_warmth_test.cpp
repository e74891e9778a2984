// Every poll prefetches the ranges the warming finds, so they must be the
// device library's and what it calls into: found from the program's own PLT
// stub (what &AWG10K_Trigger is in a -no-pie program) they would warm the
// program and leave the library cold, and no test of timing would say why.
// Built -no-pie too (NO_PIE); /proc/self/maps says independently where each
// object lies.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "AWG10K.h"
#include "walk.h"

namespace {

struct Mapping {
    uintptr_t begin, end;
    std::string path;
};

std::vector<Mapping> Mappings()
{
    std::vector<Mapping> maps;
    std::ifstream in("/proc/self/maps");
    std::string line;
    while (std::getline(in, line)) {
        unsigned long begin = 0, end = 0;
        int pathAt = 0;
        if (sscanf(line.c_str(), "%lx-%lx %*s %*s %*s %*s %n", &begin, &end, &pathAt) < 2) continue;
        maps.push_back({begin, end, pathAt > 0 ? line.substr(pathAt) : ""});
    }
    return maps;
}

bool IsLibrary(const std::string &path)
{
    return std::filesystem::path(path).filename() == "libAWG10K.so";
}

const Mapping *MappingAt(const std::vector<Mapping> &maps, uintptr_t at)
{
    for (const Mapping &m : maps) {
        if (at >= m.begin && at < m.end) return &m;
    }
    return nullptr;
}

// Where the pages of a range lie, its last byte's too: each mapping's path.
std::vector<std::string> PathsUnder(const std::vector<Mapping> &maps, const WarmRanges &walk, int r)
{
    std::vector<std::string> paths;
    for (uintptr_t at = walk.begin[r]; at < walk.end[r] + 4096; at += 4096) {
        const Mapping *m = MappingAt(maps, std::min(at, walk.end[r] - 1));
        paths.push_back(m != nullptr ? m->path : "(not mapped)");
    }
    return paths;
}

bool Holds(const WarmRanges &walk, uintptr_t begin, uintptr_t end)
{
    for (int r = 0; r < walk.ranges; ++r) {
        if (walk.begin[r] < end && walk.end[r] > begin) return true;
    }
    return false;
}

}  // namespace

TEST(TriggerWarmth, FindsTheDeviceLibraryItselfAndAllOfIt)
{
    const std::vector<Mapping> maps = Mappings();
    const Mapping *program = MappingAt(maps, reinterpret_cast<uintptr_t>(&Mappings));
    ASSERT_NE(nullptr, program);
#ifdef NO_PIE
    const Mapping *taken = MappingAt(maps, reinterpret_cast<uintptr_t>(&AWG10K_Trigger));
    ASSERT_NE(nullptr, taken);
    ASSERT_EQ(program->path, taken->path) << "-no-pie: &AWG10K_Trigger should be this program's PLT stub";
#endif

    const TriggerWarmth found = FindTriggerWarmth();
    Dl_info info{};
    ASSERT_NE(0, dladdr(found.entry, &info));
    EXPECT_TRUE(IsLibrary(info.dli_fname)) << info.dli_fname;
    EXPECT_STREQ("AWG10K_Trigger", info.dli_sname);
    EXPECT_EQ(info.dli_saddr, found.entry) << "the entry's first byte, not somewhere in it";

    // Every range in the library's mappings (its zeroed data may run on into
    // an anonymous one right after them), none in the program's.
    for (int r = 0; r < found.library.ranges; ++r) {
        const std::vector<std::string> paths = PathsUnder(maps, found.library, r);
        EXPECT_TRUE(IsLibrary(paths.front())) << "range " << r << " starts in " << paths.front();
        for (const std::string &path : paths) {
            EXPECT_TRUE(IsLibrary(path) || path.empty()) << "range " << r << " runs into " << path;
        }
    }
    // And all of the library: its code, its read-only data and its data.
    for (const Mapping &m : maps) {
        if (IsLibrary(m.path)) {
            EXPECT_TRUE(Holds(found.library, m.begin, m.end))
                << "nothing warms " << std::hex << m.begin << " of " << m.path;
        }
    }
}

// The library's calls go on into the C library (the simulator's clock read
// and its log line): the rest must hold that code, and only mapped memory,
// none of it the library's own, which has its walk already.
TEST(TriggerWarmth, FindsTheRestOfTheProcessTheLibraryCallsInto)
{
    const std::vector<Mapping> maps = Mappings();
    const TriggerWarmth found = FindTriggerWarmth();
    for (const char *name : {"snprintf", "clock_gettime"}) {
        const uintptr_t code = reinterpret_cast<uintptr_t>(dlsym(RTLD_DEFAULT, name));
        ASSERT_NE(0u, code) << name;
        EXPECT_TRUE(Holds(found.rest, code, code + 1)) << "the rest does not hold " << name;
    }
    for (int r = 0; r < found.rest.ranges; ++r) {
        for (const std::string &path : PathsUnder(maps, found.rest, r)) {
            EXPECT_NE("(not mapped)", path) << "range " << r << " of the rest";
            EXPECT_FALSE(IsLibrary(path)) << "range " << r << " of the rest is the library's";
        }
    }
}

// Ranges as a loader leaves them: unaligned, with gaps between, one a
// single byte. The walk must prefetch every line of each, from the line
// holding its first byte to the one holding its last, nothing between
// them, and start again at the first.
TEST(TriggerWarmth, WalksEveryLineOfEveryRangeAndNothingElseRoundRobin)
{
    alignas(64) static char memory[64 * 16];
    WarmRanges walk{};
    AddRange(&walk, memory + 5, 2 * 64);        // lines 0, 1, 2
    AddRange(&walk, memory + 8 * 64, 0);        // empty: no range
    AddRange(&walk, memory + 8 * 64, 2 * 64);   // lines 8, 9
    AddRange(&walk, memory + 15 * 64 + 63, 1);  // line 15
    ASSERT_EQ(3, walk.ranges);

    const std::vector<long> expected = {0, 1, 2, 8, 9, 15, 0, 1, 2, 8, 9, 15, 0, 1, 2, 8, 9, 15};
    std::vector<long> walked;
    for (size_t poll = 0; poll < expected.size(); ++poll) {
        WarmNextLine(walk);
        walked.push_back(static_cast<long>(walk.next - 64 - reinterpret_cast<uintptr_t>(memory)) / 64);
    }
    EXPECT_EQ(expected, walked);
}
