// A progress bar on stderr for long runs over large files.
#ifndef MKV_TOOLS_PROGRESS_H
#define MKV_TOOLS_PROGRESS_H

#include <string>

class ProgressBar {
public:
    // Draws only when `enabled`; see ProgressWanted.
    ProgressBar(bool enabled, std::string label);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // fraction in [0, 1]; redraws when the shown percentage changes.
    void Update(double fraction);
    // Erases the bar, leaving the terminal line clean.
    void Clear();

private:
    bool enabled;
    bool drawn = false;
    int shownPercent = -1;
    std::string label;
};

// A bar is worth drawing when stderr is a terminal, the file is large, the
// user did not turn it off, and the regular output does not go to the same
// terminal (where the two would interleave).
bool ProgressWanted(long long fileSize, bool disabled, bool outputIsTerminal);

#endif
