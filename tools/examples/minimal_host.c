/* A minimal host for libMKV.so: serves the reader callbacks from a stdio
 * FILE*, loads one Matroska file, describes its tracks and reads every
 * sample of each. Usage: minimal_host FILE.mkv */
#define _POSIX_C_SOURCE 200112L /* fseeko and ftello */
#define _FILE_OFFSET_BITS 64    /* 64-bit offsets on 32-bit targets too */

#include <stdio.h>
#include <stdlib.h>
#include <sys/types.h>

#include "zolvdmx.h"

/* The library passes back the source name given to API_ZOLVDMX_Load; this
 * host treats it as a path. The host handle is the FILE*. */
static void* HostOpen(unsigned char* name)
{
    return fopen((const char*)name, "rb");
}

static int32_t HostClose(void* file)
{
    return fclose((FILE*)file);
}

static int64_t HostLength(void* file)
{
    FILE* f = (FILE*)file;
    off_t here = ftello(f);
    off_t end;
    fseeko(f, 0, SEEK_END);
    end = ftello(f);
    fseeko(f, here, SEEK_SET);
    return (int64_t)end;
}

static int32_t HostRead(void* file, int32_t count, unsigned char* dest)
{
    if (count <= 0) {
        return 0;
    }
    return (int32_t)fread(dest, 1, (size_t)count, (FILE*)file);
}

static int64_t HostTell(void* file)
{
    return (int64_t)ftello((FILE*)file);
}

static int32_t HostSeek(void* file, int64_t offset, int32_t whence)
{
    int origin = whence == ZOLVDMX_SEEK_SET ? SEEK_SET : whence == ZOLVDMX_SEEK_CUR ? SEEK_CUR : SEEK_END;
    return fseeko((FILE*)file, (off_t)offset, origin);
}

/* Reads every sample of one track; returns the number read. */
static long ReadTrack(ZOLVDMX_HANDLE_T* demux, int32_t track, const ZOLVDMX_MEDIA_FORMAT_T* format)
{
    /* The buffer must hold the largest sample and, for H.264 and HEVC, the
     * parameter sets that come first as a sample of their own. */
    size_t capacity = format->maxSampleSize;
    ZOLVDMX_MEDIA_SAMPLE_T sample = {0};
    long count = 0;
    uint32_t status;
    int64_t reached = 0;

    if (format->configSize > 0 && (size_t)format->configSize > capacity) {
        capacity = (size_t)format->configSize;
    }
    sample.buffer = (unsigned char*)malloc(capacity > 0 ? capacity : 1);
    if (sample.buffer == NULL) {
        return 0;
    }
    /* Tracks of one type share a read position: a track read after another
     * of its type starts from its own beginning only after a seek. */
    API_ZOLVDMX_Seek(demux, track, 0, &reached);
    while ((status = API_ZOLVDMX_GetNextMediaSample(demux, track, &sample)) == ZOLVDMX_OK) {
        if (count < 3) {
            printf("  sample %ld: %d bytes, %lld..%lld (100 ns)%s\n", count, (int)sample.size,
                   (long long)sample.startTime, (long long)sample.endTime, sample.syncPoint ? ", sync" : "");
        }
        count++;
    }
    if (status != ZOLVDMX_END_OF_TRACK) {
        printf("  stopped with status 0x%08lx\n", (unsigned long)status);
    }
    free(sample.buffer);
    return count;
}

int main(int argc, char** argv)
{
    _ZOLVDMX_READER_CALLBACK_T reader = {0};
    ZOLVDMX_HANDLE_T* demux = NULL;
    int32_t tracks;
    int32_t track;

    if (argc != 2) {
        fprintf(stderr, "usage: %s FILE.mkv\n", argv[0]);
        return 2;
    }
    reader.open = HostOpen;
    reader.close = HostClose;
    reader.length = HostLength;
    reader.read = HostRead;
    reader.spare = NULL; /* never called */
    reader.tell = HostTell;
    reader.seek = HostSeek;

    if (API_ZOLVDMX_Create(&demux, reader) != ZOLVDMX_OK) {
        fprintf(stderr, "cannot create a demuxer\n");
        return 1;
    }
    if (API_ZOLVDMX_Load(demux, (unsigned char*)argv[1]) != ZOLVDMX_OK) {
        fprintf(stderr, "cannot load %s\n", argv[1]);
        API_ZOLVDMX_Destroy(demux);
        return 1;
    }

    tracks = API_ZOLVDMX_GetNumTracks(demux);
    printf("%d tracks\n", (int)tracks);
    for (track = 0; track < tracks; track++) {
        ZOLVDMX_MEDIA_FORMAT_T format;
        API_ZOLVDMX_GetMediaFormat(demux, track, &format);
        printf("track %d: type %d, codec 0x%08lx, up to %lu bytes per sample\n", (int)track,
               (int)API_ZOLVDMX_GetTrackType(demux, track), (unsigned long)format.codec,
               (unsigned long)format.maxSampleSize);
        printf("  %ld samples\n", ReadTrack(demux, track, &format));
    }

    API_ZOLVDMX_Destroy(demux);
    return 0;
}
