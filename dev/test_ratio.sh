#!/usr/bin/env bash
# Lines of test sources against lines of library and tool sources: C++, C and Python files
# (*.cpp *.h *.c *.py) on both sides, build files (CMakeLists.txt, *.cmake, the export map)
# on neither. Tests: every such file under tests/ but tests/data/ (the real files, their
# tables and the scripts that made them). Code: the library (api/ stream/ ebml/ matroska/
# demux/) and the host tool (tools/, its example included).
set -euo pipefail
cd "$(dirname "$0")/.."
count() {
    find "$@" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.c' -o -name '*.py' \) -print0 | xargs -0 cat | wc -l
}
tests=$(count tests -path tests/data -prune -o)
library=$(count api stream ebml matroska demux)
tool=$(count tools)
awk -v t="$tests" -v l="$library" -v o="$tool" \
    'BEGIN { printf "tests %d, library %d, tool %d: %.3f\n", t, l, o, t / (l + o) }'
