// ZOLVDMX_HANDLE_T: what a host's handle points to.
#ifndef MKV_API_ZOLVDMXHANDLE_H
#define MKV_API_ZOLVDMXHANDLE_H

#include <memory>

#include "demux/KelmMKVDemux.h"
#include "zolvdmx.h"

struct ZOLVDMX_HANDLE_T {
    std::unique_ptr<KelmMKVDemux> demux;
    _ZOLVDMX_READER_CALLBACK_T reader{}; // the host's callbacks; streams keep its address
    bool loaded = false;                 // API_ZOLVDMX_Load has run
};

#endif
