/* A library that leaks one symbol besides the eight entry points. The
 * export check must name it; this proves the check can fail. */
#include "zolvdmx.h"

uint32_t API_ZOLVDMX_Create(ZOLVDMX_HANDLE_T** handle, _ZOLVDMX_READER_CALLBACK_T reader)
{
    (void)reader;
    *handle = 0;
    return ZOLVDMX_E_FAIL;
}
uint32_t API_ZOLVDMX_Destroy(ZOLVDMX_HANDLE_T* handle) { (void)handle; return ZOLVDMX_OK; }
uint32_t API_ZOLVDMX_Load(ZOLVDMX_HANDLE_T* handle, unsigned char* name)
{
    (void)handle;
    (void)name;
    return ZOLVDMX_E_FAIL;
}
int32_t API_ZOLVDMX_GetNumTracks(ZOLVDMX_HANDLE_T* handle) { (void)handle; return 0; }
int32_t API_ZOLVDMX_GetTrackType(ZOLVDMX_HANDLE_T* handle, int32_t track)
{
    (void)handle;
    (void)track;
    return ZOLVDMX_TRACK_OTHER;
}
uint32_t API_ZOLVDMX_GetMediaFormat(ZOLVDMX_HANDLE_T* handle, int32_t track, ZOLVDMX_MEDIA_FORMAT_T* format)
{
    (void)handle;
    (void)track;
    (void)format;
    return ZOLVDMX_E_FAIL;
}
uint32_t API_ZOLVDMX_GetNextMediaSample(ZOLVDMX_HANDLE_T* handle, int32_t track, ZOLVDMX_MEDIA_SAMPLE_T* sample)
{
    (void)handle;
    (void)track;
    (void)sample;
    return ZOLVDMX_E_FAIL;
}
uint32_t API_ZOLVDMX_Seek(ZOLVDMX_HANDLE_T* handle, int32_t track, int64_t time, int64_t* resultTime)
{
    (void)handle;
    (void)track;
    *resultTime = time;
    return ZOLVDMX_E_FAIL;
}

ZOLVDMX_API int MkvStrayExport(void);
ZOLVDMX_API int MkvStrayExport(void)
{
    return 1;
}
