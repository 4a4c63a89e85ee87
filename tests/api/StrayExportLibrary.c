/* A library that leaks one symbol besides the eight entry points. The
 * export check must name it; this proves the check can fail. */
#include "zolvdmx.h"

uint32_t API_ZOLVDMX_Create(ZOLVDMX_HANDLE_T** h, _ZOLVDMX_READER_CALLBACK_T r) { (void)h; (void)r; return 1; }
uint32_t API_ZOLVDMX_Destroy(ZOLVDMX_HANDLE_T* h) { (void)h; return 1; }
uint32_t API_ZOLVDMX_Load(ZOLVDMX_HANDLE_T* h, unsigned char* n) { (void)h; (void)n; return 1; }
int32_t API_ZOLVDMX_GetNumTracks(ZOLVDMX_HANDLE_T* h) { (void)h; return 0; }
int32_t API_ZOLVDMX_GetTrackType(ZOLVDMX_HANDLE_T* h, int32_t t) { (void)h; (void)t; return -1; }
uint32_t API_ZOLVDMX_GetMediaFormat(ZOLVDMX_HANDLE_T* h, int32_t t, ZOLVDMX_MEDIA_FORMAT_T* f)
{
    (void)h; (void)t; (void)f; return 1;
}
uint32_t API_ZOLVDMX_GetNextMediaSample(ZOLVDMX_HANDLE_T* h, int32_t t, ZOLVDMX_MEDIA_SAMPLE_T* s)
{
    (void)h; (void)t; (void)s; return 1;
}
uint32_t API_ZOLVDMX_Seek(ZOLVDMX_HANDLE_T* h, int32_t t, int64_t time, int64_t* r)
{
    (void)h; (void)t; (void)time; (void)r; return 1;
}

ZOLVDMX_API int MkvStrayExport(void);
ZOLVDMX_API int MkvStrayExport(void) { return 1; }
