/* A library exporting one symbol besides the eight entry points: the export check must name it. */
#include "zolvdmx.h"

#pragma GCC diagnostic ignored "-Wunused-parameter"
uint32_t API_ZOLVDMX_Create(ZOLVDMX_HANDLE_T** h, _ZOLVDMX_READER_CALLBACK_T r) { return 1; }
uint32_t API_ZOLVDMX_Destroy(ZOLVDMX_HANDLE_T* h) { return 1; }
uint32_t API_ZOLVDMX_Load(ZOLVDMX_HANDLE_T* h, unsigned char* n) { return 1; }
int32_t API_ZOLVDMX_GetNumTracks(ZOLVDMX_HANDLE_T* h) { return 0; }
int32_t API_ZOLVDMX_GetTrackType(ZOLVDMX_HANDLE_T* h, int32_t t) { return -1; }
uint32_t API_ZOLVDMX_GetMediaFormat(ZOLVDMX_HANDLE_T* h, int32_t t, ZOLVDMX_MEDIA_FORMAT_T* f) { return 1; }
uint32_t API_ZOLVDMX_GetNextMediaSample(ZOLVDMX_HANDLE_T* h, int32_t t, ZOLVDMX_MEDIA_SAMPLE_T* s) { return 1; }
uint32_t API_ZOLVDMX_Seek(ZOLVDMX_HANDLE_T* h, int32_t t, int64_t time, int64_t* r) { return 1; }
ZOLVDMX_API int MkvStrayExport(void);
ZOLVDMX_API int MkvStrayExport(void) { return 1; }
