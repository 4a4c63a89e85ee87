// Progress bar: one carriage-return-redrawn line on stderr.
#include "Progress.h"

#include <algorithm>
#include <cstdio>

#include <unistd.h>

namespace {

// Smaller files are read faster than a bar could be read.
constexpr long long kLargeFileBytes = 16LL << 20;
constexpr int kBarWidth = 40;

} // namespace

bool ProgressWanted(long long fileSize, bool disabled, bool outputIsTerminal)
{
    return !disabled && !outputIsTerminal && fileSize >= kLargeFileBytes && isatty(STDERR_FILENO) == 1;
}

ProgressBar::ProgressBar(bool enabled, std::string label) : enabled(enabled), label(std::move(label)) {}

ProgressBar::~ProgressBar()
{
    Clear();
}

void ProgressBar::Update(double fraction)
{
    if (!enabled) {
        return;
    }
    int percent = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 100.0);
    if (percent == shownPercent) {
        return;
    }
    shownPercent = percent;
    int filled = percent * kBarWidth / 100;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kBarWidth - filled), '.');
    std::fprintf(stderr, "\r%s [%s] %3d%%", label.c_str(), bar.c_str(), percent);
    std::fflush(stderr);
    drawn = true;
}

void ProgressBar::Clear()
{
    if (drawn) {
        std::fprintf(stderr, "\r%*s\r", static_cast<int>(label.size()) + kBarWidth + 8, "");
        std::fflush(stderr);
        drawn = false;
        shownPercent = -1;
    }
}
