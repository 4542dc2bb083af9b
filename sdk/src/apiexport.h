// Marks the definition of an exported MV_CC_* entry point, with the linkage
// its declaration in MVCameraControl.h has. Both SDKs export through it.
#pragma once

#if defined(_WIN32)
#  define MV_CC_API __declspec(dllexport)
#else
#  define MV_CC_API __attribute__((visibility("default")))
#endif
