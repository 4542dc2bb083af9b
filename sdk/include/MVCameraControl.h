/*
 * MVCameraControl.h - the camera SDK's C interface, as served by the virtual
 * camera SDK of this project (simulated line-scan devices).
 *
 * Only the names the plug-in may use are declared here, so that what builds
 * against this header builds against another installation too. Records carry
 * a few further fields that the simulated devices fill; the plug-in reads none
 * of them. Error statuses and everything that steers the simulated devices are
 * in VirtualCameraControl.h beside this file, for tests and tools; the plug-in
 * never includes it.
 */
#ifndef MVCAMERACONTROL_H
#define MVCAMERACONTROL_H

#include <stdint.h>

#ifdef _WIN32
#  define MV_CC_CALL __stdcall
#else
#  define MV_CC_CALL
#endif

/* Linkage of the functions below: exported by the library, imported by its
   users. Undefined again at the end of this file. */
#if defined(_WIN32) && defined(MVCAMERACONTROL_BUILD)
#  define MVCC_LINKAGE_ __declspec(dllexport)
#elif defined(_WIN32)
#  define MVCC_LINKAGE_ __declspec(dllimport)
#else
#  define MVCC_LINKAGE_ __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- status and constants ---------------------------------------------- */

#define MV_OK 0

#define MV_GIGE_DEVICE 0x00000001u
#define MV_USB_DEVICE 0x00000004u
#define MV_MAX_DEVICE_NUM 256

#define MV_EXCEPTION_DEV_DISCONNECT 0x00008001u

enum {
    PixelType_Gvsp_Mono8 = 0x01080001,
    PixelType_Gvsp_BayerGR8 = 0x01080008,
    PixelType_Gvsp_BayerRG8 = 0x01080009,
    PixelType_Gvsp_BayerGB8 = 0x0108000A,
    PixelType_Gvsp_BayerBG8 = 0x0108000B,
    PixelType_Gvsp_RGB8_Packed = 0x02180014,
    PixelType_Gvsp_BGR8_Packed = 0x02180015
};

/* ---- records ------------------------------------------------------------- */

typedef struct {
    unsigned char chManufacturerName[32];
    unsigned char chModelName[32];
    unsigned char chSerialNumber[64];
    unsigned char chUserDefinedName[16];
    unsigned int nCurrentIp; /* IPv4 address, most significant byte first */
} MV_GIGE_DEVICE_INFO;

typedef struct {
    unsigned char chVendorName[64];
    unsigned char chModelName[64];
    unsigned char chManufacturerName[64];
    unsigned char chSerialNumber[64];
    unsigned char chUserDefinedName[64];
} MV_USB3_DEVICE_INFO;

typedef struct {
    unsigned short nMajorVer;
    unsigned int nTLayerType;
    union {
        MV_GIGE_DEVICE_INFO stGigEInfo;
        MV_USB3_DEVICE_INFO stUsb3VInfo;
    } SpecialInfo;
} MV_CC_DEVICE_INFO;

typedef struct {
    unsigned int nDeviceNum;
    MV_CC_DEVICE_INFO* pDeviceInfo[MV_MAX_DEVICE_NUM];
} MV_CC_DEVICE_INFO_LIST;

typedef struct {
    unsigned int nCurValue;
    unsigned int nMax;
    unsigned int nMin;
    unsigned int nInc;
} MVCC_INTVALUE;

typedef struct {
    float fCurValue;
    float fMax;
    float fMin;
} MVCC_FLOATVALUE;

typedef struct {
    char chCurValue[256];
    int64_t nMaxLength;
} MVCC_STRINGVALUE;

typedef struct {
    unsigned int nCurValue;
    unsigned int nSupportedNum;
    unsigned int nSupportValue[64];
} MVCC_ENUMVALUE;

typedef struct {
    unsigned short nWidth;
    unsigned short nHeight;
    unsigned int enPixelType;
    unsigned int nFrameNum;
    unsigned int nDevTimeStampHigh;
    unsigned int nDevTimeStampLow;
    int64_t nHostTimeStamp;
    unsigned int nFrameLen;
    float fGain;
    float fExposureTime;
    unsigned int nFrameCounter;
    unsigned int nTriggerIndex;
    unsigned short nOffsetX;
    unsigned short nOffsetY;
    unsigned int nLostPacket;
} MV_FRAME_OUT_INFO_EX;

typedef struct {
    unsigned short nWidth;
    unsigned short nHeight;
    unsigned int enSrcPixelType;
    unsigned char* pSrcData;
    unsigned int nSrcDataLen;
    unsigned int enDstPixelType;
    unsigned char* pDstBuffer;
    unsigned int nDstLen;
    unsigned int nDstBufferSize;
} MV_CC_PIXEL_CONVERT_PARAM;

/* ---- functions ------------------------------------------------------------ */

MVCC_LINKAGE_ int MV_CC_CALL MV_CC_EnumDevices(unsigned int nTLayerType, MV_CC_DEVICE_INFO_LIST* pstDevList);
MVCC_LINKAGE_ int MV_CC_CALL MV_CC_CreateHandle(void** handle, const MV_CC_DEVICE_INFO* pstDevInfo);
MVCC_LINKAGE_ int MV_CC_CALL MV_CC_DestroyHandle(void* handle);
MVCC_LINKAGE_ int MV_CC_CALL MV_CC_OpenDevice(void* handle, unsigned int nAccessMode, unsigned short nSwitchoverKey);
MVCC_LINKAGE_ int MV_CC_CALL MV_CC_CloseDevice(void* handle);
MVCC_LINKAGE_ int MV_CC_CALL MV_CC_FeatureLoad(void* handle, const char* strFileName);
MVCC_LINKAGE_ int MV_CC_CALL MV_CC_RegisterImageCallBackEx(void* handle,
    void(MV_CC_CALL* cbOutput)(unsigned char* pData, MV_FRAME_OUT_INFO_EX* pFrameInfo, void* pUser), void* pUser);
MVCC_LINKAGE_ int MV_CC_CALL MV_CC_RegisterExceptionCallBack(void* handle,
    void(MV_CC_CALL* cbException)(unsigned int nMsgType, void* pUser), void* pUser);
MVCC_LINKAGE_ int MV_CC_CALL MV_CC_SetImageNodeNum(void* handle, unsigned int nNum);
MVCC_LINKAGE_ int MV_CC_CALL MV_CC_GetIntValue(void* handle, const char* strKey, MVCC_INTVALUE* pValue);
MVCC_LINKAGE_ int MV_CC_CALL MV_CC_GetFloatValue(void* handle, const char* strKey, MVCC_FLOATVALUE* pValue);
MVCC_LINKAGE_ int MV_CC_CALL MV_CC_GetBoolValue(void* handle, const char* strKey, bool* pValue);
MVCC_LINKAGE_ int MV_CC_CALL MV_CC_GetStringValue(void* handle, const char* strKey, MVCC_STRINGVALUE* pValue);
MVCC_LINKAGE_ int MV_CC_CALL MV_CC_GetEnumValue(void* handle, const char* strKey, MVCC_ENUMVALUE* pValue);
MVCC_LINKAGE_ int MV_CC_CALL MV_CC_SetEnumValue(void* handle, const char* strKey, unsigned int nValue);
MVCC_LINKAGE_ int MV_CC_CALL MV_CC_SetFloatValue(void* handle, const char* strKey, float fValue);
MVCC_LINKAGE_ int MV_CC_CALL MV_CC_GetPixelFormat(void* handle, MVCC_ENUMVALUE* pValue);
MVCC_LINKAGE_ int MV_CC_CALL MV_CC_GetDeviceInfo(void* handle, MV_CC_DEVICE_INFO* pstDevInfo);
MVCC_LINKAGE_ int MV_CC_CALL MV_CC_StartGrabbing(void* handle);
MVCC_LINKAGE_ int MV_CC_CALL MV_CC_StopGrabbing(void* handle);
MVCC_LINKAGE_ int MV_CC_CALL MV_CC_ClearImageBuffer(void* handle);
MVCC_LINKAGE_ int MV_CC_CALL MV_CC_ConvertPixelType(void* handle, MV_CC_PIXEL_CONVERT_PARAM* pstCvtParam);
MVCC_LINKAGE_ int MV_CC_CALL MV_CC_TriggerSoftwareExecute(void* handle);

#ifdef __cplusplus
}
#endif

#undef MVCC_LINKAGE_

#endif /* MVCAMERACONTROL_H */
