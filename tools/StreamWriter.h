// The writers behind `extract`: one per output form, each fed the samples
// of one track in delivery order.
#ifndef MKV_TOOLS_STREAMWRITER_H
#define MKV_TOOLS_STREAMWRITER_H

#include <cstdint>
#include <memory>
#include <string>

#include "Demuxer.h"
#include "OutputFile.h"
#include "TrackInfo.h"

class StreamWriter {
public:
    virtual ~StreamWriter() = default;
    // A sample as the library delivered it; H.264 and HEVC parameter sets
    // come as the first sample.
    virtual void Write(const TrackSample& sample) = 0;
    // After the last sample: sizes and end marks the stream needs.
    virtual void Finish() {}
};

// The writer for track.form. Throws ToolError (unsupported track) when the
// track's codec data does not allow that form; `where` ("FILE: track N: ")
// starts such messages.
std::unique_ptr<StreamWriter> MakeStreamWriter(const TrackInfo& track, OutputFile& output, const std::string& where);

// One per container, each in a source file of its own.
std::unique_ptr<StreamWriter> MakeAdtsWriter(const TrackInfo& track, OutputFile& output, const std::string& where);
std::unique_ptr<StreamWriter> MakeIvfWriter(const TrackInfo& track, OutputFile& output);
std::unique_ptr<StreamWriter> MakeOggWriter(const TrackInfo& track, OutputFile& output, const std::string& where);
std::unique_ptr<StreamWriter> MakeWavWriter(const TrackInfo& track, OutputFile& output, const std::string& where);

// Little-endian fields of the container headers.
void StoreLe16(unsigned char* p, uint32_t value);
void StoreLe32(unsigned char* p, uint32_t value);
void StoreLe64(unsigned char* p, uint64_t value);

#endif
