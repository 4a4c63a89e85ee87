// The four commands of mkvdemux. Each returns an exit code or throws
// ToolError.
#ifndef MKV_TOOLS_COMMANDS_H
#define MKV_TOOLS_COMMANDS_H

#include "Options.h"

int RunInfo(const Options& options);
int RunPackets(const Options& options);
int RunExtract(const Options& options);
int RunSeek(const Options& options);

#endif
