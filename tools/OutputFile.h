// The file extract writes, removed again when the extraction does not
// complete; "-" is standard output.
#ifndef MKV_TOOLS_OUTPUTFILE_H
#define MKV_TOOLS_OUTPUTFILE_H

#include <cstdint>
#include <cstdio>
#include <string>

class OutputFile {
public:
    explicit OutputFile(const std::string& path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void Write(const unsigned char* data, size_t size);
    // Whether bytes already written can be rewritten: a regular file that
    // this tool opened. Standard output never is, even when redirected to a
    // file, since the file may be open for appending.
    bool Seekable() const { return seekable; }
    // Rewrites bytes at offset (from the start of the output) and goes back
    // to its end; does nothing unless Seekable().
    void Overwrite(uint64_t offset, const unsigned char* data, size_t size);
    // Flushes and closes; the file then stays.
    void Commit();

    unsigned long long Written() const { return written; }

private:
    [[noreturn]] void Fail();

    static constexpr size_t kBufferBytes = 1 << 20;
    std::string path;
    FILE* stream = nullptr;
    char* buffer = nullptr;
    bool seekable = false;
    unsigned long long written = 0;
};

#endif
