/* Public C interface of libMKV.so: the host reader callbacks, the records
 * exchanged with the host, the status codes and the eight entry points.
 * Plain C99; a host built separately includes only this file. */
#ifndef ZOLVDMX_H
#define ZOLVDMX_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define ZOLVDMX_API __attribute__((visibility("default")))
#else
#define ZOLVDMX_API
#endif

/* Status codes (COM style). The entry points answer OK, END_OF_TRACK,
   E_FAIL (every failure, every failed seek included) and, for samples of a
   track that is neither video nor audio, E_UNSUPPORTED. E_NOTIMPL and
   E_INVALIDARG are the library's own answers inside (a seek of such a track,
   an empty binary payload) and never reach the host. */
#define ZOLVDMX_OK             0x00000000u /* success */
#define ZOLVDMX_END_OF_TRACK   0x00000001u /* the track has no further sample (for now, in a growing file) */
#define ZOLVDMX_E_FAIL         0x80004005u /* general failure */
#define ZOLVDMX_E_NOTIMPL      0x80004001u /* track neither video nor audio (seek, inside the library) */
#define ZOLVDMX_E_UNSUPPORTED  0x80010000u /* track neither video nor audio (samples) */
#define ZOLVDMX_E_INVALIDARG   0x80070057u /* empty binary payload (inside the library) */

/* Values of ZOLVDMX_MEDIA_FORMAT_T.mediaType. */
#define ZOLVDMX_MEDIA_SUBTITLE 0u
#define ZOLVDMX_MEDIA_VIDEO    1u
#define ZOLVDMX_MEDIA_AUDIO    2u

/* Results of API_ZOLVDMX_GetTrackType. */
#define ZOLVDMX_TRACK_AUDIO    0
#define ZOLVDMX_TRACK_VIDEO    1
#define ZOLVDMX_TRACK_SUBTITLE 2
#define ZOLVDMX_TRACK_OTHER    (-1)

/* Whence values of the seek callback. */
#define ZOLVDMX_SEEK_SET 0
#define ZOLVDMX_SEEK_CUR 1
#define ZOLVDMX_SEEK_END 2

/* The seven host reader callbacks, in this order. The library reads every
 * byte of a source through them; the host handle is whatever open returns
 * (NULL: the source cannot be opened). The fifth entry is never called but
 * keeps the later entries in their places. */
typedef struct _ZOLVDMX_READER_CALLBACK_T {
    void*   (*open)(unsigned char* name);
    int32_t (*close)(void* hostHandle);
    int64_t (*length)(void* hostHandle);
    int32_t (*read)(void* hostHandle, int32_t count, unsigned char* dest);
    void    (*spare)(void);
    int64_t (*tell)(void* hostHandle);
    int32_t (*seek)(void* hostHandle, int64_t offset, int32_t whence);
} _ZOLVDMX_READER_CALLBACK_T;

/* Per-track media format: 72 bytes with 32-bit pointers. Every buffer it
 * points to belongs to the demuxer and lives until API_ZOLVDMX_Destroy. */
typedef struct ZOLVDMX_MEDIA_FORMAT_T {
    uint32_t       codec;            /*  0: four-character code (video) or WAVE format tag (audio) */
    uint32_t       mediaType;        /*  4: 1 video, 2 audio, 0 subtitle */
    void*          header;           /*  8: ZOLVDMX_BITMAPINFOHEADER_T or ZOLVDMX_WAVEFORMATEX_T */
    int32_t        codecPrivateSize; /* 12 */
    unsigned char* codecPrivate;     /* 16 */
    uint32_t       alignment1;       /* 20: not written */
    int64_t        duration;         /* 24: file duration in 100 ns units */
    uint32_t       maxSampleSize;    /* 32: buffer size the host provides per sample */
    uint32_t       bitRate;          /* 36 */
    int32_t        frameRate;        /* 40: frames per 1000 seconds */
    uint32_t       seekable;         /* 44: 1 when the file has a SeekHead (subtitles: always 1); seeking works either way */
    uint32_t       fixedOne1;        /* 48: always 1 */
    uint32_t       fixedOne2;        /* 52: always 1 */
    int32_t        configSize;       /* 56 */
    unsigned char* config;           /* 60: decoder configuration (H.264, HEVC: start-code parameter sets) */
    void*          videoExtra;       /* 64: ZOLVDMX_VIDEO_EXTRA_T for video, else NULL */
    uint32_t       alignment2;       /* 68: not written */
} ZOLVDMX_MEDIA_FORMAT_T;

/* One sample as delivered by API_ZOLVDMX_GetNextMediaSample: 40 bytes with
 * 32-bit pointers. The caller sets buffer (at least maxSampleSize bytes). */
typedef struct ZOLVDMX_MEDIA_SAMPLE_T {
    uint32_t       reserved1;  /*  0: never touched */
    unsigned char* buffer;     /*  4 */
    uint32_t       reserved2;  /*  8: set to 0 */
    uint32_t       reserved3;  /* 12: never touched */
    int64_t        startTime;  /* 16: 100 ns units */
    int64_t        endTime;    /* 24: startTime + duration */
    uint32_t       syncPoint;  /* 32: 1 when decodable on its own */
    int32_t        size;       /* 36: bytes written to buffer */
} ZOLVDMX_MEDIA_SAMPLE_T;

/* Video header the format record points to (40 bytes, little-endian). */
typedef struct ZOLVDMX_BITMAPINFOHEADER_T {
    uint32_t biSize;
    int32_t  biWidth;
    int32_t  biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t  biXPelsPerMeter;
    int32_t  biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
} ZOLVDMX_BITMAPINFOHEADER_T;

/* Audio header the format record points to (18 bytes, little-endian). */
#pragma pack(push, 2)
typedef struct ZOLVDMX_WAVEFORMATEX_T {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize;
} ZOLVDMX_WAVEFORMATEX_T;
#pragma pack(pop)

/* Display record of a video track (20 bytes). */
typedef struct ZOLVDMX_VIDEO_EXTRA_T {
    uint32_t displayWidth;
    uint32_t displayHeight;
    uint32_t zero;
    uint32_t unused[2];
} ZOLVDMX_VIDEO_EXTRA_T;

/* The demuxer handle; opaque to the host. */
typedef struct ZOLVDMX_HANDLE_T ZOLVDMX_HANDLE_T;

ZOLVDMX_API uint32_t API_ZOLVDMX_Create(ZOLVDMX_HANDLE_T** handle, _ZOLVDMX_READER_CALLBACK_T reader);
ZOLVDMX_API uint32_t API_ZOLVDMX_Destroy(ZOLVDMX_HANDLE_T* handle);
ZOLVDMX_API uint32_t API_ZOLVDMX_Load(ZOLVDMX_HANDLE_T* handle, unsigned char* name);
ZOLVDMX_API int32_t  API_ZOLVDMX_GetNumTracks(ZOLVDMX_HANDLE_T* handle);
ZOLVDMX_API int32_t  API_ZOLVDMX_GetTrackType(ZOLVDMX_HANDLE_T* handle, int32_t track);
ZOLVDMX_API uint32_t API_ZOLVDMX_GetMediaFormat(ZOLVDMX_HANDLE_T* handle, int32_t track,
                                                ZOLVDMX_MEDIA_FORMAT_T* format);
ZOLVDMX_API uint32_t API_ZOLVDMX_GetNextMediaSample(ZOLVDMX_HANDLE_T* handle, int32_t track,
                                                    ZOLVDMX_MEDIA_SAMPLE_T* sample);
ZOLVDMX_API uint32_t API_ZOLVDMX_Seek(ZOLVDMX_HANDLE_T* handle, int32_t track, int64_t time,
                                      int64_t* resultTime);

/* Byte layout checks. The headers are the same on every target; the two
 * records are checked where pointers are 32-bit, as on the device. */
#if defined(__cplusplus)
#define ZOLVDMX_LAYOUT_CHECK(cond, msg) static_assert(cond, msg)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define ZOLVDMX_LAYOUT_CHECK(cond, msg) _Static_assert(cond, msg)
#else
#define ZOLVDMX_LAYOUT_CHECK_CAT2(a, b) a##b
#define ZOLVDMX_LAYOUT_CHECK_CAT(a, b) ZOLVDMX_LAYOUT_CHECK_CAT2(a, b)
#define ZOLVDMX_LAYOUT_CHECK(cond, msg) \
    typedef char ZOLVDMX_LAYOUT_CHECK_CAT(zolvdmx_layout_check_, __LINE__)[(cond) ? 1 : -1]
#endif
ZOLVDMX_LAYOUT_CHECK(sizeof(ZOLVDMX_BITMAPINFOHEADER_T) == 40, "BITMAPINFOHEADER is 40 bytes");
ZOLVDMX_LAYOUT_CHECK(sizeof(ZOLVDMX_WAVEFORMATEX_T) == 18, "WAVEFORMATEX is 18 bytes");
ZOLVDMX_LAYOUT_CHECK(sizeof(ZOLVDMX_VIDEO_EXTRA_T) == 20, "display record is 20 bytes");
#if UINTPTR_MAX == 0xFFFFFFFFu
ZOLVDMX_LAYOUT_CHECK(sizeof(ZOLVDMX_MEDIA_FORMAT_T) == 72, "format record is 72 bytes");
ZOLVDMX_LAYOUT_CHECK(offsetof(ZOLVDMX_MEDIA_FORMAT_T, header) == 8, "header at 8");
ZOLVDMX_LAYOUT_CHECK(offsetof(ZOLVDMX_MEDIA_FORMAT_T, codecPrivate) == 16, "codecPrivate at 16");
ZOLVDMX_LAYOUT_CHECK(offsetof(ZOLVDMX_MEDIA_FORMAT_T, duration) == 24, "duration at 24");
ZOLVDMX_LAYOUT_CHECK(offsetof(ZOLVDMX_MEDIA_FORMAT_T, maxSampleSize) == 32, "maxSampleSize at 32");
ZOLVDMX_LAYOUT_CHECK(offsetof(ZOLVDMX_MEDIA_FORMAT_T, seekable) == 44, "seekable at 44");
ZOLVDMX_LAYOUT_CHECK(offsetof(ZOLVDMX_MEDIA_FORMAT_T, configSize) == 56, "configSize at 56");
ZOLVDMX_LAYOUT_CHECK(offsetof(ZOLVDMX_MEDIA_FORMAT_T, config) == 60, "config at 60");
ZOLVDMX_LAYOUT_CHECK(offsetof(ZOLVDMX_MEDIA_FORMAT_T, videoExtra) == 64, "videoExtra at 64");
ZOLVDMX_LAYOUT_CHECK(sizeof(ZOLVDMX_MEDIA_SAMPLE_T) == 40, "sample record is 40 bytes");
ZOLVDMX_LAYOUT_CHECK(offsetof(ZOLVDMX_MEDIA_SAMPLE_T, buffer) == 4, "buffer at 4");
ZOLVDMX_LAYOUT_CHECK(offsetof(ZOLVDMX_MEDIA_SAMPLE_T, startTime) == 16, "startTime at 16");
ZOLVDMX_LAYOUT_CHECK(offsetof(ZOLVDMX_MEDIA_SAMPLE_T, endTime) == 24, "endTime at 24");
ZOLVDMX_LAYOUT_CHECK(offsetof(ZOLVDMX_MEDIA_SAMPLE_T, syncPoint) == 32, "syncPoint at 32");
ZOLVDMX_LAYOUT_CHECK(offsetof(ZOLVDMX_MEDIA_SAMPLE_T, size) == 36, "size at 36");
ZOLVDMX_LAYOUT_CHECK(sizeof(_ZOLVDMX_READER_CALLBACK_T) == 28, "seven callbacks");
#endif

#ifdef __cplusplus
}
#endif

#endif /* ZOLVDMX_H */
