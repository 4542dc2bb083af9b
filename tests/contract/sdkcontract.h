/*
 * The camera SDK's C interface with nothing beyond what the plug-in may use:
 * the names it may call or read, and no others. Installed as
 * include/MVCameraControl.h of a stand-in SDK root, beside the virtual SDK's
 * library, the plug-in must build against it; a name it takes from the
 * virtual SDK's fuller header then stops that build.
 *
 * Written independently of sdk/include/MVCameraControl.h on purpose: records
 * hold only the fields listed here, in an order and with name-string sizes of
 * their own, so the plug-in cannot depend on either. Only the device list's
 * layout is fixed. Nothing here is meant to run: the build is the check.
 */
#ifndef MVCAMERACONTROL_H
#define MVCAMERACONTROL_H

#include <stdint.h>

#ifdef _WIN32
#  define MV_CC_CALL __stdcall
#else
#  define MV_CC_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define MV_OK 0

#define MV_GIGE_DEVICE 0x00000001
#define MV_USB_DEVICE 0x00000004
#define MV_MAX_DEVICE_NUM 256

#define MV_EXCEPTION_DEV_DISCONNECT 0x00008001

enum {
    PixelType_Gvsp_Mono8 = 0x01080001,
    PixelType_Gvsp_BayerGR8 = 0x01080008,
    PixelType_Gvsp_BayerRG8 = 0x01080009,
    PixelType_Gvsp_BayerGB8 = 0x0108000A,
    PixelType_Gvsp_BayerBG8 = 0x0108000B,
    PixelType_Gvsp_RGB8_Packed = 0x02180014,
    PixelType_Gvsp_BGR8_Packed = 0x02180015
};

typedef struct {
    unsigned char chSerialNumber[24], chModelName[40], chManufacturerName[28];
} MV_GIGE_DEVICE_INFO;

typedef struct {
    unsigned char chModelName[72], chManufacturerName[36], chSerialNumber[20];
} MV_USB3_DEVICE_INFO;

typedef struct {
    union {
        MV_USB3_DEVICE_INFO stUsb3VInfo;
        MV_GIGE_DEVICE_INFO stGigEInfo;
    } SpecialInfo;
    unsigned int nTLayerType;
} MV_CC_DEVICE_INFO;

typedef struct {
    unsigned int nDeviceNum;
    MV_CC_DEVICE_INFO* pDeviceInfo[MV_MAX_DEVICE_NUM];
} MV_CC_DEVICE_INFO_LIST;

typedef struct { unsigned int nInc, nMin, nMax, nCurValue; } MVCC_INTVALUE;
typedef struct { float fMin, fMax, fCurValue; } MVCC_FLOATVALUE;
typedef struct { int64_t nMaxLength; char chCurValue[256]; } MVCC_STRINGVALUE;
typedef struct { unsigned int nSupportValue[64], nSupportedNum, nCurValue; } MVCC_ENUMVALUE;

typedef struct {
    unsigned int nLostPacket, nTriggerIndex, nFrameCounter, nFrameLen;
    unsigned int nDevTimeStampLow, nDevTimeStampHigh, nFrameNum, enPixelType;
    unsigned short nHeight, nWidth;
} MV_FRAME_OUT_INFO_EX;

typedef struct {
    unsigned int nDstBufferSize, nDstLen;
    unsigned char* pDstBuffer;
    unsigned int enDstPixelType, nSrcDataLen;
    unsigned char* pSrcData;
    unsigned int enSrcPixelType;
    unsigned short nHeight, nWidth;
} MV_CC_PIXEL_CONVERT_PARAM;

int MV_CC_CALL MV_CC_EnumDevices(unsigned int nTLayerType, MV_CC_DEVICE_INFO_LIST* pstDevList);
int MV_CC_CALL MV_CC_CreateHandle(void** handle, const MV_CC_DEVICE_INFO* pstDevInfo);
int MV_CC_CALL MV_CC_DestroyHandle(void* handle);
int MV_CC_CALL MV_CC_OpenDevice(void* handle, unsigned int nAccessMode, unsigned short nSwitchoverKey);
int MV_CC_CALL MV_CC_CloseDevice(void* handle);
int MV_CC_CALL MV_CC_FeatureLoad(void* handle, const char* strFileName);
int MV_CC_CALL MV_CC_RegisterImageCallBackEx(void* handle,
    void(MV_CC_CALL* cb)(unsigned char* pData, MV_FRAME_OUT_INFO_EX* pFrameInfo, void* pUser), void* pUser);
int MV_CC_CALL MV_CC_RegisterExceptionCallBack(void* handle,
    void(MV_CC_CALL* cb)(unsigned int nMsgType, void* pUser), void* pUser);
int MV_CC_CALL MV_CC_SetImageNodeNum(void* handle, unsigned int nNum);
int MV_CC_CALL MV_CC_GetIntValue(void* handle, const char* strKey, MVCC_INTVALUE* pValue);
int MV_CC_CALL MV_CC_GetFloatValue(void* handle, const char* strKey, MVCC_FLOATVALUE* pValue);
int MV_CC_CALL MV_CC_GetBoolValue(void* handle, const char* strKey, bool* pValue);
int MV_CC_CALL MV_CC_GetStringValue(void* handle, const char* strKey, MVCC_STRINGVALUE* pValue);
int MV_CC_CALL MV_CC_GetEnumValue(void* handle, const char* strKey, MVCC_ENUMVALUE* pValue);
int MV_CC_CALL MV_CC_SetEnumValue(void* handle, const char* strKey, unsigned int nValue);
int MV_CC_CALL MV_CC_SetFloatValue(void* handle, const char* strKey, float fValue);
int MV_CC_CALL MV_CC_GetPixelFormat(void* handle, MVCC_ENUMVALUE* pValue);
int MV_CC_CALL MV_CC_GetDeviceInfo(void* handle, MV_CC_DEVICE_INFO* pstDevInfo);
int MV_CC_CALL MV_CC_StartGrabbing(void* handle);
int MV_CC_CALL MV_CC_StopGrabbing(void* handle);
int MV_CC_CALL MV_CC_ClearImageBuffer(void* handle);
int MV_CC_CALL MV_CC_ConvertPixelType(void* handle, MV_CC_PIXEL_CONVERT_PARAM* pstCvtParam);
int MV_CC_CALL MV_CC_TriggerSoftwareExecute(void* handle);

#ifdef __cplusplus
}
#endif

#endif /* MVCAMERACONTROL_H */
