#include "convert.h"

#include "call.h"
#include "pixelformat.h"

#include <opencv2/imgproc.hpp>

#include <cstring>

namespace vcc {

namespace {

// OpenCV names a Bayer pattern after the second row's second and third
// pixels, so the GigE Vision name and OpenCV's are shifted by one cell.
int cvCodeFor(unsigned src)
{
    switch (src) {
    case PixelType_Gvsp_BayerRG8:
        return cv::COLOR_BayerBG2RGB;
    case PixelType_Gvsp_BayerGR8:
        return cv::COLOR_BayerGB2RGB;
    case PixelType_Gvsp_BayerGB8:
        return cv::COLOR_BayerGR2RGB;
    case PixelType_Gvsp_BayerBG8:
        return cv::COLOR_BayerRG2RGB;
    case PixelType_Gvsp_BGR8_Packed:
        return cv::COLOR_BGR2RGB;
    case PixelType_Gvsp_Mono8:
        return cv::COLOR_GRAY2RGB;
    default:
        return -1;
    }
}

} // namespace

int convertPixels(MV_CC_PIXEL_CONVERT_PARAM& p)
{
    if (!p.pSrcData || !p.pDstBuffer || p.nWidth == 0 || p.nHeight == 0)
        return err(MV_E_PARAMETER);
    if (p.enDstPixelType != PixelType_Gvsp_RGB8_Packed)
        return err(MV_E_SUPPORT);
    const unsigned srcBpp = bytesPerPixel(p.enSrcPixelType);
    const bool copyOnly = p.enSrcPixelType == PixelType_Gvsp_RGB8_Packed;
    const int code = cvCodeFor(p.enSrcPixelType);
    if (srcBpp == 0 || (code < 0 && !copyOnly))
        return err(MV_E_SUPPORT);
    if (isBayer(p.enSrcPixelType) && (p.nWidth < 2 || p.nHeight < 2))
        return err(MV_E_PARAMETER); // demosaicing needs at least one full cell
    const uint64_t pixels = static_cast<uint64_t>(p.nWidth) * p.nHeight;
    // Never read past the source nor write past the destination.
    if (p.nSrcDataLen < pixels * srcBpp)
        return err(MV_E_PARAMETER);
    const uint64_t need = pixels * 3;
    if (p.nDstBufferSize < need)
        return err(MV_E_BUFOVER);

    if (copyOnly) {
        std::memcpy(p.pDstBuffer, p.pSrcData, static_cast<size_t>(need));
    } else {
        const int srcType = srcBpp == 3 ? CV_8UC3 : CV_8UC1;
        cv::Mat src(p.nHeight, p.nWidth, srcType, p.pSrcData);
        cv::Mat dst(p.nHeight, p.nWidth, CV_8UC3, p.pDstBuffer);
        try {
            cv::cvtColor(src, dst, code);
        } catch (const cv::Exception&) {
            return err(MV_E_UNKNOW);
        }
        // cvtColor keeps a destination of the right size and type; had it not,
        // the result would sit in memory of its own.
        if (dst.data != p.pDstBuffer)
            std::memcpy(p.pDstBuffer, dst.data, static_cast<size_t>(need));
    }
    p.nDstLen = static_cast<unsigned>(need);
    return MV_OK;
}

} // namespace vcc
