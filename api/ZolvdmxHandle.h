// ZOLVDMX_HANDLE_T: what a host's handle points to.
#ifndef MKV_API_ZOLVDMXHANDLE_H
#define MKV_API_ZOLVDMXHANDLE_H

#include <cstdint>

#include "demux/KelmMKVDemux.h"
#include "zolvdmx.h"

struct ZOLVDMX_HANDLE_T {
    KelmMKVDemux* demux;                // owned
    _ZOLVDMX_READER_CALLBACK_T reader;  // the host's callbacks; streams keep its address
    uint32_t loaded;                    // 1 once API_ZOLVDMX_Load has run
};

#endif
