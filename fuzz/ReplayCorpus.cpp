// Replays files through a fuzz target's checks without libFuzzer, so that
// every build (native, sanitizers, ARM under an emulator) runs the seed
// corpus and the saved reproducers.
//   replay_corpus [--elements] [--costs] [--timed] DIR_OR_FILE...
// A directory contributes the regular files directly in it. Each file's name
// goes to stderr before it runs, so an abort names its input. The demux
// target's checks run unless --elements asks for the element target's;
// --costs prints every operation's host calls, bytes and processor time
// against the budgets; --timed enforces the time budget too, as the fuzz
// target does (left out by default: a build under an emulator or the
// sanitizers is slow).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "DemuxChecks.h"
#include "ElementChecks.h"

namespace fs = std::filesystem;

namespace {

struct Options {
    bool elements = false;
    bool costs = false;
    bool timed = false;
    std::vector<fs::path> inputs;
};

Options Parse(int argc, char** argv)
{
    Options options;
    for (int k = 1; k < argc; ++k) {
        const std::string argument = argv[k];
        if (argument == "--elements" || argument == "--costs" || argument == "--timed") {
            (argument == "--elements" ? options.elements : argument == "--costs" ? options.costs : options.timed) =
                true;
            continue;
        }
        const fs::path given(argument);
        if (!fs::is_directory(given)) {
            options.inputs.push_back(given);
            continue;
        }
        std::vector<fs::path> files;
        for (const fs::directory_entry& entry : fs::directory_iterator(given)) {
            if (entry.is_regular_file()) {
                files.push_back(entry.path());
            }
        }
        std::sort(files.begin(), files.end());
        options.inputs.insert(options.inputs.end(), files.begin(), files.end());
    }
    return options;
}

void PrintCosts(const std::vector<fuzzcheck::OperationCost>& spent, const std::vector<uint8_t>& bytes)
{
    const int64_t elements = fuzzcheck::CountElements(bytes.data(), bytes.size());
    for (const fuzzcheck::OperationCost& cost : spent) {
        std::fprintf(stderr, "  %-32s %8lld calls (budget %lld)  %9lld bytes (budget %lld)  %8lld us (budget %lld)\n",
                     cost.operation.c_str(), static_cast<long long>(cost.calls),
                     static_cast<long long>(fuzzcheck::CallBudget(bytes.size())), static_cast<long long>(cost.bytes),
                     static_cast<long long>(fuzzcheck::ByteBudget(bytes.size())),
                     static_cast<long long>(cost.microseconds),
                     static_cast<long long>(fuzzcheck::TimeBudget(bytes.size(), elements, cost.requests)));
    }
}

} // namespace

int main(int argc, char** argv)
{
    const Options options = Parse(argc, argv);
    if (options.inputs.empty()) {
        std::fprintf(stderr, "usage: %s [--elements] [--costs] [--timed] DIR_OR_FILE...\n", argv[0]);
        return 2;
    }
    // The library's load and destruction lines would bury the file names.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) {
        return 2;
    }
    for (const fs::path& input : options.inputs) {
        std::ifstream file(input, std::ios::binary);
        if (!file) {
            std::fprintf(stderr, "cannot read %s\n", input.c_str());
            return 1;
        }
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        std::fprintf(stderr, "%s (%zu bytes)\n", input.c_str(), bytes.size());
        if (options.elements) {
            fuzzcheck::CheckElements(bytes.data(), bytes.size());
            continue;
        }
        std::vector<fuzzcheck::OperationCost> spent;
        fuzzcheck::CheckDemux(bytes.data(), bytes.size(), options.timed, options.costs ? &spent : nullptr);
        PrintCosts(spent, bytes);
    }
    std::fprintf(stderr, "%zu inputs passed\n", options.inputs.size());
    return 0;
}
