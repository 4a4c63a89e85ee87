// The small real files kept in tests/data, read whole so that a MemoryReader can serve them.
#ifndef MKV_TESTS_SUPPORT_TESTDATA_H
#define MKV_TESTS_SUPPORT_TESTDATA_H

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// Contents of tests/data/<name>; empty when the file cannot be read.
inline std::vector<uint8_t> ReadTestFile(const std::string& name)
{
    std::ifstream in(std::string(MKV_TEST_DATA_DIR) + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

#endif
