/*
 * MVCameraControl.h - the camera SDK's C interface, as served by the virtual
 * camera SDK of this project (simulated line-scan devices).
 *
 * Only what the plug-in relies on is declared here. Tests and tools that steer
 * the simulated devices include VirtualCameraControl.h beside this file; the
 * plug-in never does, so it builds unchanged against another installation.
 */
#ifndef MVCAMERACONTROL_H
#define MVCAMERACONTROL_H

#include <stdint.h>

#ifdef _WIN32
#  define MV_CC_CALL __stdcall
#  ifdef MVCAMERACONTROL_BUILD
#    define MV_CC_API __declspec(dllexport)
#  else
#    define MV_CC_API __declspec(dllimport)
#  endif
#else
#  define MV_CC_CALL
#  define MV_CC_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- status and constants ---------------------------------------------- */

#define MV_OK 0

/* Error statuses (as unsigned: 0x80000xxx). */
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

#define MV_GIGE_DEVICE 0x00000001u
#define MV_USB_DEVICE 0x00000004u
#define MV_MAX_DEVICE_NUM 256

#define MV_EXCEPTION_DEV_DISCONNECT 0x00008001u

enum MvGvspPixelType {
    PixelType_Gvsp_Mono8 = 0x01080001,
    PixelType_Gvsp_BayerGR8 = 0x01080008,
    PixelType_Gvsp_BayerRG8 = 0x01080009,
    PixelType_Gvsp_BayerGB8 = 0x0108000A,
    PixelType_Gvsp_BayerBG8 = 0x0108000B,
    PixelType_Gvsp_RGB8_Packed = 0x02180014,
    PixelType_Gvsp_BGR8_Packed = 0x02180015
};

/* ---- records ------------------------------------------------------------- */

#define MV_MAX_DEVICE_STRING 64

typedef struct _MV_GIGE_DEVICE_INFO_ {
    unsigned int nIpCfgOption;
    unsigned int nCurrentIp;
    unsigned char chManufacturerName[32];
    unsigned char chModelName[32];
    unsigned char chDeviceVersion[32];
    unsigned char chManufacturerSpecificInfo[48];
    unsigned char chSerialNumber[MV_MAX_DEVICE_STRING];
    unsigned char chUserDefinedName[16];
    unsigned int nNetExport;
    unsigned int nReserved[4];
} MV_GIGE_DEVICE_INFO;

typedef struct _MV_USB3_DEVICE_INFO_ {
    unsigned char CrtlInEndPoint;
    unsigned char CrtlOutEndPoint;
    unsigned char StreamEndPoint;
    unsigned char EventEndPoint;
    unsigned short idVendor;
    unsigned short idProduct;
    unsigned int nDeviceNumber;
    unsigned char chDeviceGUID[64];
    unsigned char chVendorName[64];
    unsigned char chModelName[64];
    unsigned char chFamilyName[64];
    unsigned char chDeviceVersion[64];
    unsigned char chManufacturerName[64];
    unsigned char chSerialNumber[MV_MAX_DEVICE_STRING];
    unsigned char chUserDefinedName[64];
    unsigned int nbcdUSB;
    unsigned int nReserved[3];
} MV_USB3_DEVICE_INFO;

typedef struct _MV_CC_DEVICE_INFO_ {
    unsigned short nMajorVer;
    unsigned short nMinorVer;
    unsigned int nMacAddrHigh;
    unsigned int nMacAddrLow;
    unsigned int nTLayerType;
    unsigned int nReserved[4];
    union {
        MV_GIGE_DEVICE_INFO stGigEInfo;
        MV_USB3_DEVICE_INFO stUsb3VInfo;
    } SpecialInfo;
} MV_CC_DEVICE_INFO;

typedef struct _MV_CC_DEVICE_INFO_LIST_ {
    unsigned int nDeviceNum;
    MV_CC_DEVICE_INFO* pDeviceInfo[MV_MAX_DEVICE_NUM];
} MV_CC_DEVICE_INFO_LIST;

typedef struct _MVCC_INTVALUE_T {
    unsigned int nCurValue;
    unsigned int nMax;
    unsigned int nMin;
    unsigned int nInc;
    unsigned int nReserved[4];
} MVCC_INTVALUE;

typedef struct _MVCC_FLOATVALUE_T {
    float fCurValue;
    float fMax;
    float fMin;
    unsigned int nReserved[4];
} MVCC_FLOATVALUE;

typedef struct _MVCC_STRINGVALUE_T {
    char chCurValue[256];
    int64_t nMaxLength;
    unsigned int nReserved[2];
} MVCC_STRINGVALUE;

#define MV_MAX_XML_SYMBOLIC_NUM 64
typedef struct _MVCC_ENUMVALUE_T {
    unsigned int nCurValue;
    unsigned int nSupportedNum;
    unsigned int nSupportValue[MV_MAX_XML_SYMBOLIC_NUM];
    unsigned int nReserved[4];
} MVCC_ENUMVALUE;

typedef struct _MV_FRAME_OUT_INFO_EX_ {
    unsigned short nWidth;
    unsigned short nHeight;
    unsigned int enPixelType;
    unsigned int nFrameNum;
    unsigned int nDevTimeStampHigh;
    unsigned int nDevTimeStampLow;
    unsigned int nReserved0;
    int64_t nHostTimeStamp;
    unsigned int nFrameLen;
    unsigned int nSecondCount;
    unsigned int nCycleCount;
    unsigned int nCycleOffset;
    float fGain;
    float fExposureTime;
    unsigned int nAverageBrightness;
    unsigned int nRed;
    unsigned int nGreen;
    unsigned int nBlue;
    unsigned int nFrameCounter;
    unsigned int nTriggerIndex;
    unsigned int nInput;
    unsigned int nOutput;
    unsigned short nOffsetX;
    unsigned short nOffsetY;
    unsigned short nChunkWidth;
    unsigned short nChunkHeight;
    unsigned int nLostPacket;
    unsigned int nReserved[39];
} MV_FRAME_OUT_INFO_EX;

typedef struct _MV_CC_PIXEL_CONVERT_PARAM_T_ {
    unsigned short nWidth;
    unsigned short nHeight;
    unsigned int enSrcPixelType;
    unsigned char* pSrcData;
    unsigned int nSrcDataLen;
    unsigned int enDstPixelType;
    unsigned char* pDstBuffer;
    unsigned int nDstLen;
    unsigned int nDstBufferSize;
    unsigned int nRes[4];
} MV_CC_PIXEL_CONVERT_PARAM;

/* ---- functions ------------------------------------------------------------ */

typedef void(MV_CC_CALL* MvImageCallBackEx)(unsigned char* pData, MV_FRAME_OUT_INFO_EX* pFrameInfo, void* pUser);
typedef void(MV_CC_CALL* MvExceptionCallBack)(unsigned int nMsgType, void* pUser);

MV_CC_API int MV_CC_CALL MV_CC_EnumDevices(unsigned int nTLayerType, MV_CC_DEVICE_INFO_LIST* pstDevList);
MV_CC_API int MV_CC_CALL MV_CC_CreateHandle(void** handle, const MV_CC_DEVICE_INFO* pstDevInfo);
MV_CC_API int MV_CC_CALL MV_CC_DestroyHandle(void* handle);
MV_CC_API int MV_CC_CALL MV_CC_OpenDevice(void* handle, unsigned int nAccessMode, unsigned short nSwitchoverKey);
MV_CC_API int MV_CC_CALL MV_CC_CloseDevice(void* handle);
MV_CC_API int MV_CC_CALL MV_CC_FeatureLoad(void* handle, const char* strFileName);
MV_CC_API int MV_CC_CALL MV_CC_RegisterImageCallBackEx(void* handle, MvImageCallBackEx cbOutput, void* pUser);
MV_CC_API int MV_CC_CALL MV_CC_RegisterExceptionCallBack(void* handle, MvExceptionCallBack cbException, void* pUser);
MV_CC_API int MV_CC_CALL MV_CC_SetImageNodeNum(void* handle, unsigned int nNum);
MV_CC_API int MV_CC_CALL MV_CC_GetIntValue(void* handle, const char* strKey, MVCC_INTVALUE* pValue);
MV_CC_API int MV_CC_CALL MV_CC_GetFloatValue(void* handle, const char* strKey, MVCC_FLOATVALUE* pValue);
MV_CC_API int MV_CC_CALL MV_CC_GetBoolValue(void* handle, const char* strKey, bool* pValue);
MV_CC_API int MV_CC_CALL MV_CC_GetStringValue(void* handle, const char* strKey, MVCC_STRINGVALUE* pValue);
MV_CC_API int MV_CC_CALL MV_CC_GetEnumValue(void* handle, const char* strKey, MVCC_ENUMVALUE* pValue);
MV_CC_API int MV_CC_CALL MV_CC_SetEnumValue(void* handle, const char* strKey, unsigned int nValue);
MV_CC_API int MV_CC_CALL MV_CC_SetFloatValue(void* handle, const char* strKey, float fValue);
MV_CC_API int MV_CC_CALL MV_CC_GetPixelFormat(void* handle, MVCC_ENUMVALUE* pValue);
MV_CC_API int MV_CC_CALL MV_CC_GetDeviceInfo(void* handle, MV_CC_DEVICE_INFO* pstDevInfo);
MV_CC_API int MV_CC_CALL MV_CC_StartGrabbing(void* handle);
MV_CC_API int MV_CC_CALL MV_CC_StopGrabbing(void* handle);
MV_CC_API int MV_CC_CALL MV_CC_ClearImageBuffer(void* handle);
MV_CC_API int MV_CC_CALL MV_CC_ConvertPixelType(void* handle, MV_CC_PIXEL_CONVERT_PARAM* pstCvtParam);
MV_CC_API int MV_CC_CALL MV_CC_TriggerSoftwareExecute(void* handle);

#ifdef __cplusplus
}
#endif

#endif /* MVCAMERACONTROL_H */
