/* A plain C99 host of the public header: it must compile with every warning
 * an error, keep the entry points' signatures, and drive a handle through
 * the calls that need no readable source. Exit status 0 means every check
 * held. */
#include <stdio.h>
#include <string.h>

#include "zolvdmx.h"

/* The build tells the target's pointer width. On a 32-bit target the
 * header's record layout checks depend on UINTPTR_MAX; an undefined macro
 * would read as 0 and switch them off without a word. */
#if defined(MKV_POINTER_BYTES) && MKV_POINTER_BYTES == 4 && !(UINTPTR_MAX == 0xFFFFFFFFu)
#error "zolvdmx.h would skip its 32-bit layout checks on this target"
#endif

static int failures = 0;

#define CHECK(cond)                                                       \
    do {                                                                  \
        if (!(cond)) {                                                    \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            failures++;                                                   \
        }                                                                 \
    } while (0)

/* The signatures a separately built host was compiled against. Assigning
 * the entry points to these types fails the build if one of them changes. */
typedef uint32_t (*CreateFn)(ZOLVDMX_HANDLE_T**, _ZOLVDMX_READER_CALLBACK_T);
typedef uint32_t (*DestroyFn)(ZOLVDMX_HANDLE_T*);
typedef uint32_t (*LoadFn)(ZOLVDMX_HANDLE_T*, unsigned char*);
typedef int32_t (*GetNumTracksFn)(ZOLVDMX_HANDLE_T*);
typedef int32_t (*GetTrackTypeFn)(ZOLVDMX_HANDLE_T*, int32_t);
typedef uint32_t (*GetMediaFormatFn)(ZOLVDMX_HANDLE_T*, int32_t, ZOLVDMX_MEDIA_FORMAT_T*);
typedef uint32_t (*GetNextMediaSampleFn)(ZOLVDMX_HANDLE_T*, int32_t, ZOLVDMX_MEDIA_SAMPLE_T*);
typedef uint32_t (*SeekFn)(ZOLVDMX_HANDLE_T*, int32_t, int64_t, int64_t*);

static const struct {
    CreateFn create;
    DestroyFn destroy;
    LoadFn load;
    GetNumTracksFn getNumTracks;
    GetTrackTypeFn getTrackType;
    GetMediaFormatFn getMediaFormat;
    GetNextMediaSampleFn getNextMediaSample;
    SeekFn seek;
} entryPoints = {
    API_ZOLVDMX_Create,        API_ZOLVDMX_Destroy,        API_ZOLVDMX_Load,
    API_ZOLVDMX_GetNumTracks,  API_ZOLVDMX_GetTrackType,   API_ZOLVDMX_GetMediaFormat,
    API_ZOLVDMX_GetNextMediaSample, API_ZOLVDMX_Seek,
};

/* A host whose source cannot be opened. */
static int openCalls = 0;
static unsigned char* lastOpenedName = NULL;

static void* RefuseOpen(unsigned char* name)
{
    openCalls++;
    lastOpenedName = name;
    return NULL;
}

static int32_t NoClose(void* hostHandle)
{
    (void)hostHandle;
    return 0;
}

static int64_t NoLength(void* hostHandle)
{
    (void)hostHandle;
    return 0;
}

static int32_t NoRead(void* hostHandle, int32_t count, unsigned char* dest)
{
    (void)hostHandle;
    (void)count;
    (void)dest;
    return 0;
}

static int64_t NoTell(void* hostHandle)
{
    (void)hostHandle;
    return 0;
}

static int32_t NoSeek(void* hostHandle, int64_t offset, int32_t whence)
{
    (void)hostHandle;
    (void)offset;
    (void)whence;
    return 0;
}

int main(void)
{
    _ZOLVDMX_READER_CALLBACK_T reader = {RefuseOpen, NoClose, NoLength, NoRead, NULL, NoTell, NoSeek};
    unsigned char name[] = "no-such-source.mkv";
    unsigned char buffer[16];
    /* Every field named as a host names it; the build fails if one is renamed. */
    ZOLVDMX_MEDIA_SAMPLE_T sample = {.reserved1 = 0, .buffer = buffer, .reserved2 = 0, .reserved3 = 0,
                                     .startTime = 0, .endTime = 0, .syncPoint = 0, .size = 0};
    ZOLVDMX_MEDIA_FORMAT_T format = {.codec = 0, .mediaType = ZOLVDMX_MEDIA_VIDEO, .header = NULL,
                                     .codecPrivateSize = 0, .codecPrivate = NULL, .duration = 0,
                                     .maxSampleSize = sizeof buffer, .bitRate = 0, .frameRate = 0,
                                     .seekable = 0, .fixedOne1 = 1, .fixedOne2 = 1, .configSize = 0,
                                     .config = NULL, .videoExtra = NULL};
    ZOLVDMX_HANDLE_T* demux = NULL;

    (void)sample;
    (void)format;
    CHECK(entryPoints.create(&demux, reader) == ZOLVDMX_OK);
    CHECK(demux != NULL);
    if (demux == NULL) {
        return 1;
    }
    /* A source that cannot be opened yields no Segment. */
    CHECK(entryPoints.load(demux, name) == ZOLVDMX_E_FAIL);
    CHECK(openCalls == 0 || lastOpenedName == name);
    CHECK(entryPoints.getNumTracks(demux) == 0);
    CHECK(entryPoints.destroy(demux) == ZOLVDMX_OK);

    if (failures != 0) {
        fprintf(stderr, "%d checks failed\n", failures);
        return 1;
    }
    puts("C host: all checks passed");
    return 0;
}
