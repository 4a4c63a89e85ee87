// Writes samples as a table or as JSON, one line per sample, to stdout.
#ifndef MKV_TOOLS_SAMPLELISTING_H
#define MKV_TOOLS_SAMPLELISTING_H

#include <cstdint>
#include <string>

struct TrackSample;

class SampleListing {
public:
    // file is named in the JSON document.
    SampleListing(bool json, bool md5, std::string file);

    // The table heading, or the opening of the JSON document.
    void Begin();
    void Add(int32_t track, const TrackSample& sample);
    // Closes the JSON document (nothing for a table).
    void End();

private:
    bool json;
    bool md5;
    std::string file;
    bool first = true;
};

#endif
