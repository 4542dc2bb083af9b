/*
 * VirtualCameraControl.h - steering and observing the simulated devices of the
 * virtual camera SDK, for tests, benchmarks and the command-line host.
 *
 * Plain C linkage, exported from libMVCameraControl.so beside the MV_CC_*
 * functions, so a tool may also look each function up with dlsym. The plug-in
 * never includes this header.
 *
 * Unless said otherwise a function returns MV_OK (0) or an MV_E_* status
 * (below; the MV_CC_* functions return the same ones).
 * Devices are named by serial number. Strings are copied; the caller keeps
 * ownership of everything it passes.
 */
#ifndef VIRTUALCAMERACONTROL_H
#define VIRTUALCAMERACONTROL_H

#include "MVCameraControl.h"

#ifdef _WIN32
#  ifdef MVCAMERACONTROL_BUILD
#    define VCC_API __declspec(dllexport)
#  else
#    define VCC_API __declspec(dllimport)
#  endif
#else
#  define VCC_API __attribute__((visibility("default")))
#endif

/* ---- statuses and limits ------------------------------------------------- */

/* Error statuses of the MV_CC_* and VCC_* functions (as unsigned: 0x80000xxx). */
#define MV_E_HANDLE     0x80000000u /* bad or closed handle */
#define MV_E_SUPPORT    0x80000001u /* not supported */
#define MV_E_BUFOVER    0x80000002u /* buffer too small */
#define MV_E_CALLORDER  0x80000003u /* call in the wrong state */
#define MV_E_PARAMETER  0x80000004u /* bad parameter (null pointer, out of range) */
#define MV_E_RESOURCE   0x80000006u /* resource could not be had */
#define MV_E_NODATA     0x80000007u /* no data */
#define MV_E_UNKNOW     0x800000FFu /* unknown error */
#define MV_E_GC_GENERIC 0x80000100u /* generic feature error */
#define MV_E_GC_RANGE   0x80000102u /* value out of range or off increment */
#define MV_E_GC_ACCESS  0x80000106u /* feature not writable */
#define MV_E_ACCESS_DENIED 0x80000203u /* device opened by another handle */
#define MV_E_BUSY       0x80000204u /* device busy */
#define MV_E_NETER      0x80000205u /* device gone */

/* Entries an enumeration can offer: the capacity of MVCC_ENUMVALUE's nSupportValue. */
#define MV_MAX_XML_SYMBOLIC_NUM 64

#ifdef __cplusplus
extern "C" {
#endif

/* ---- device set ------------------------------------------------------------ */

/* Description of one simulated device, for VCC_AddDevice. */
typedef struct VCC_DEVICE_DESC {
    const char* manufacturer;         /* manufacturer name in the enumeration record */
    const char* model;                /* model name in the enumeration record */
    const char* serial;               /* serial number; unique among devices */
    unsigned int transport;           /* MV_GIGE_DEVICE or MV_USB_DEVICE */
    unsigned int widthMax;            /* "WidthMax" */
    unsigned int heightMax;           /* "HeightMax" */
    unsigned int width;               /* initial "Width" */
    unsigned int height;              /* initial "Height" */
    const unsigned int* pixelFormats; /* supported pixel formats, in the device's order */
    unsigned int pixelFormatCount;    /* entries in pixelFormats (1..64) */
    unsigned int pixelFormat;         /* initial pixel format; 0 = the first supported */
    const char* deviceModelName;      /* "DeviceModelName"; null = same as model */
    double lineRate;                  /* lines per second in free run; 0 = 100000 */
} VCC_DEVICE_DESC;

/* Remove every device and handle, clear faults, delays and the call log. */
VCC_API void VCC_Reset(void);
/* Replace the device set by the built-in default devices. */
VCC_API int VCC_UseDefaultDevices(void);
/* Replace the device set by the devices of a JSON device file. */
VCC_API int VCC_LoadDeviceFile(const char* path);
/* Add one device (attached); fails for a duplicate serial or a bad description. */
VCC_API int VCC_AddDevice(const VCC_DEVICE_DESC* desc);
/* Remove a device; an open handle on it behaves as after a detach. */
VCC_API int VCC_RemoveDevice(const char* serial);
/* Number of devices, attached or not. */
VCC_API int VCC_DeviceCount(void);
/* Unplug a device: not enumerated; open handles get MV_EXCEPTION_DEV_DISCONNECT and then fail. */
VCC_API int VCC_DetachDevice(const char* serial);
/* Plug a detached device back in: enumerable and openable by a new handle. */
VCC_API int VCC_AttachDevice(const char* serial);

/* ---- features ---------------------------------------------------------------- */

/* Create or overwrite an integer feature with its current value and limits. */
VCC_API int VCC_SetIntFeature(const char* serial, const char* name, long long cur, long long min, long long max, long long inc);
/* Create or overwrite a float feature with its current value and limits. */
VCC_API int VCC_SetFloatFeature(const char* serial, const char* name, double cur, double min, double max);
/* Create or overwrite a boolean feature. */
VCC_API int VCC_SetBoolFeature(const char* serial, const char* name, int value);
/* Create or overwrite a string feature. */
VCC_API int VCC_SetStringFeature(const char* serial, const char* name, const char* value);
/* Create or overwrite an enumeration; supported may be null to keep the present list. */
VCC_API int VCC_SetEnumFeature(const char* serial, const char* name, unsigned int cur, const unsigned int* supported, unsigned int count);
/* Make a feature writable (1) or read-only (0) for the MV_CC_* setters and feature files. */
VCC_API int VCC_SetFeatureWritable(const char* serial, const char* name, int writable);
/* Remove a feature, so that reading or writing it fails. */
VCC_API int VCC_RemoveFeature(const char* serial, const char* name);

/* ---- fault injection -------------------------------------------------------- */

/* The next `count` calls of the named MV_CC_* function return `status` and do nothing else
   (MV_CC_EnumDevices still fills the list with the devices it has). count 0 cancels. */
VCC_API int VCC_FailNext(const char* functionName, int count, int status);
/* Cancel every pending VCC_FailNext. */
VCC_API void VCC_ClearFailures(void);
/* The next frame numbered frameNum reports `packets` lost packets (nLostPacket). */
VCC_API int VCC_InjectLostPackets(const char* serial, unsigned int frameNum, unsigned int packets);
/* After the frame numbered afterFrameNum, `skip` frame numbers are lost in transit. */
VCC_API int VCC_InjectFrameGap(const char* serial, unsigned int afterFrameNum, unsigned int skip);
/* MV_CC_OpenDevice on this device takes `ms` milliseconds before it answers. */
VCC_API int VCC_SetOpenDelayMs(const char* serial, unsigned int ms);
/* Free-run line rate in lines per second; the frame rate is lineRate / "Height". */
VCC_API int VCC_SetLineRate(const char* serial, double linesPerSecond);
/* Pause (1) or resume (0) free-run generation; software triggers and VCC_Deliver* still work. */
VCC_API int VCC_SetFreeRunPaused(const char* serial, int paused);
/* Set the device clock (100 MHz ticks) as it stands now; it keeps ticking from there. */
VCC_API int VCC_SetDeviceTimeStamp(const char* serial, unsigned long long ticks);

/* ---- synchronous deliveries --------------------------------------------------- */

/* Call the handle's image callback on its SDK callback thread with exactly these
   pointers (either may be null or unreadable) and return once it returned.
   Requires the handle to be grabbing; nothing is counted or numbered. */
VCC_API int VCC_DeliverFrame(void* handle, const MV_FRAME_OUT_INFO_EX* info, unsigned char* data);
/* VCC_DeliverFrame on the handle that has the device open. */
VCC_API int VCC_DeliverFrameToDevice(const char* serial, const MV_FRAME_OUT_INFO_EX* info, unsigned char* data);
/* Let the device produce its next frame now (pattern, numbering, time stamp, faults)
   and deliver it on the callback thread; returns once the callback returned. */
VCC_API int VCC_DeliverDeviceFrame(void* handle);
/* VCC_DeliverDeviceFrame on the handle that has the device open. */
VCC_API int VCC_DeliverDeviceFrameToDevice(const char* serial);

/* ---- call log ------------------------------------------------------------------- */

/* One logged MV_CC_* call. Strings are NUL-terminated and cut to fit. */
typedef struct VCC_CALL_RECORD {
    char function[48];  /* e.g. "MV_CC_SetEnumValue" */
    void* handle;       /* handle argument (null for calls without one) */
    char key[128];      /* feature key, or file name for MV_CC_FeatureLoad */
    char value[256];    /* value as text: set values, access mode, conversion parameters */
    int status;         /* status the call returned */
} VCC_CALL_RECORD;

/* Switch logging of MV_CC_* calls on (1, the default) or off (0). */
VCC_API void VCC_CallLogEnable(int enabled);
/* Forget all logged calls. */
VCC_API void VCC_CallLogClear(void);
/* Number of logged calls (the log keeps the most recent 8192). */
VCC_API int VCC_CallLogCount(void);
/* Copy the call at `index` (0 = oldest kept) into *record. */
VCC_API int VCC_CallLogGet(int index, VCC_CALL_RECORD* record);
/* Number of logged calls of the named function, optionally with this key (null = any). */
VCC_API int VCC_CallLogCountOf(const char* functionName, const char* key);

/* ---- observation ----------------------------------------------------------------- */

/* State and counters of one device. */
typedef struct VCC_DEVICE_COUNTERS {
    unsigned long long framesProduced;  /* frames the device generated */
    unsigned long long framesDelivered; /* image callbacks completed with a device frame */
    unsigned long long framesDropped;   /* frames dropped because every node buffer was full */
    int attached;                       /* 1 when plugged in */
    int opened;                         /* 1 when a handle has it open */
    int grabbing;                       /* 1 when that handle is grabbing */
    int liveHandles;                    /* handles created for it and not destroyed */
    unsigned long long triggerOverruns; /* triggers lost because they came during a frame's read-out */
} VCC_DEVICE_COUNTERS;

/* Read a device's counters and state. */
VCC_API int VCC_GetDeviceCounters(const char* serial, VCC_DEVICE_COUNTERS* counters);
/* Handles created and not yet destroyed, over all devices. */
VCC_API int VCC_LiveHandleCount(void);
/* Node buffers currently allocated by the handle (bounded by MV_CC_SetImageNodeNum). */
VCC_API int VCC_NodeBufferCount(void* handle);

#ifdef __cplusplus
}
#endif

#endif /* VIRTUALCAMERACONTROL_H */
