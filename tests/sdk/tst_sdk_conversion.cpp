// MV_CC_ConvertPixelType: demosaicing of every Bayer layout, packing, and
// the bounds of the destination buffer.
#include "sdktestutil.h"

#include <opencv2/imgproc.hpp>

using namespace sdktest;

namespace {

constexpr int W = 16, H = 12;
const uint8_t R = 200, G = 100, B = 30;

// Mosaic of a flat colour, laid out by the GigE Vision name (its top-left 2x2 cell).
std::vector<uint8_t> mosaic(const char cell[4])
{
    std::vector<uint8_t> m(W * H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            char c = cell[(y % 2) * 2 + (x % 2)];
            m[size_t(y * W + x)] = c == 'R' ? R : c == 'G' ? G : B;
        }
    return m;
}

MV_CC_PIXEL_CONVERT_PARAM param(unsigned src, uint8_t* data, unsigned len, uint8_t* dst, unsigned dstSize)
{
    MV_CC_PIXEL_CONVERT_PARAM p{};
    p.nWidth = W;
    p.nHeight = H;
    p.enSrcPixelType = src;
    p.pSrcData = data;
    p.nSrcDataLen = len;
    p.enDstPixelType = PixelType_Gvsp_RGB8_Packed;
    p.pDstBuffer = dst;
    p.nDstBufferSize = dstSize;
    return p;
}

} // namespace

class TestSdkConversion : public QObject {
    Q_OBJECT

    void* h = nullptr;

private slots:
    void init()
    {
        VCC_Reset();
        QCOMPARE_STATUS(addDevice("CONV-0000001"), MV_OK);
        h = openDevice("CONV-0000001");
        QVERIFY(h);
    }

    void cleanup() { closeDevice(h); }

    void bayerLayouts_data()
    {
        QTest::addColumn<unsigned>("format");
        QTest::addColumn<QByteArray>("cell");
        QTest::addColumn<int>("cvCode");
        QTest::newRow("RG8") << unsigned(PixelType_Gvsp_BayerRG8) << QByteArray("RGGB") << int(cv::COLOR_BayerBG2RGB);
        QTest::newRow("GR8") << unsigned(PixelType_Gvsp_BayerGR8) << QByteArray("GRBG") << int(cv::COLOR_BayerGB2RGB);
        QTest::newRow("GB8") << unsigned(PixelType_Gvsp_BayerGB8) << QByteArray("GBRG") << int(cv::COLOR_BayerGR2RGB);
        QTest::newRow("BG8") << unsigned(PixelType_Gvsp_BayerBG8) << QByteArray("BGGR") << int(cv::COLOR_BayerRG2RGB);
    }

    void bayerLayouts()
    {
        QFETCH(unsigned, format);
        QFETCH(QByteArray, cell);
        QFETCH(int, cvCode);
        std::vector<uint8_t> src = mosaic(cell.constData());
        std::vector<uint8_t> dst(W * H * 3, 0);
        auto p = param(format, src.data(), W * H, dst.data(), W * H * 3);
        QCOMPARE_STATUS(MV_CC_ConvertPixelType(h, &p), MV_OK);
        QCOMPARE(p.nDstLen, unsigned(W * H * 3));
        // A flat colour comes back as itself, in red-green-blue order, away from the borders.
        for (int y = 2; y < H - 2; ++y)
            for (int x = 2; x < W - 2; ++x) {
                const uint8_t* px = &dst[size_t((y * W + x) * 3)];
                QCOMPARE(int(px[0]), int(R));
                QCOMPARE(int(px[1]), int(G));
                QCOMPARE(int(px[2]), int(B));
            }
        // And byte for byte what OpenCV makes of the same mosaic.
        cv::Mat ref;
        cv::cvtColor(cv::Mat(H, W, CV_8UC1, src.data()), ref, cvCode);
        QVERIFY(std::equal(dst.begin(), dst.end(), ref.data));
    }

    void packedAndMono()
    {
        std::vector<uint8_t> bgr(W * H * 3), dst(W * H * 3);
        for (size_t i = 0; i < bgr.size(); i += 3) {
            bgr[i] = B;
            bgr[i + 1] = G;
            bgr[i + 2] = R;
        }
        auto p = param(PixelType_Gvsp_BGR8_Packed, bgr.data(), W * H * 3, dst.data(), W * H * 3);
        QCOMPARE_STATUS(MV_CC_ConvertPixelType(h, &p), MV_OK);
        QCOMPARE(int(dst[0]), int(R));
        QCOMPARE(int(dst[2]), int(B));

        std::vector<uint8_t> mono(W * H, 77);
        p = param(PixelType_Gvsp_Mono8, mono.data(), W * H, dst.data(), W * H * 3);
        QCOMPARE_STATUS(MV_CC_ConvertPixelType(h, &p), MV_OK);
        QVERIFY(std::all_of(dst.begin(), dst.end(), [](uint8_t v) { return v == 77; }));

        p = param(PixelType_Gvsp_RGB8_Packed, bgr.data(), W * H * 3, dst.data(), W * H * 3);
        QCOMPARE_STATUS(MV_CC_ConvertPixelType(h, &p), MV_OK);
        QVERIFY(std::equal(dst.begin(), dst.end(), bgr.begin()));
    }

    void neverWritesPastTheBuffer()
    {
        std::vector<uint8_t> src = mosaic("RGGB");
        // One byte short: refused, and not a byte written, not even inside the buffer.
        std::vector<uint8_t> dst(W * H * 3 + 16, 0xAB);
        auto p = param(PixelType_Gvsp_BayerRG8, src.data(), W * H, dst.data(), W * H * 3 - 1);
        QCOMPARE_STATUS(MV_CC_ConvertPixelType(h, &p), MV_E_BUFOVER);
        QVERIFY(std::all_of(dst.begin(), dst.end(), [](uint8_t v) { return v == 0xAB; }));
        // Exactly large enough: the guard bytes behind it stay.
        p = param(PixelType_Gvsp_BayerRG8, src.data(), W * H, dst.data(), W * H * 3);
        QCOMPARE_STATUS(MV_CC_ConvertPixelType(h, &p), MV_OK);
        QVERIFY(std::all_of(dst.begin() + W * H * 3, dst.end(), [](uint8_t v) { return v == 0xAB; }));
    }

    void refusals()
    {
        std::vector<uint8_t> src(W * H * 3), dst(W * H * 3);
        auto p = param(PixelType_Gvsp_BayerRG8, src.data(), W * H, dst.data(), W * H * 3);
        p.enDstPixelType = PixelType_Gvsp_Mono8;
        QCOMPARE_STATUS(MV_CC_ConvertPixelType(h, &p), MV_E_SUPPORT);
        p = param(0x01100003 /* a 10-bit format */, src.data(), W * H * 2, dst.data(), W * H * 3);
        QCOMPARE_STATUS(MV_CC_ConvertPixelType(h, &p), MV_E_SUPPORT);
        p = param(PixelType_Gvsp_BayerRG8, src.data(), W * H - 1, dst.data(), W * H * 3); // short source
        QCOMPARE_STATUS(MV_CC_ConvertPixelType(h, &p), MV_E_PARAMETER);
        p = param(PixelType_Gvsp_BayerRG8, nullptr, W * H, dst.data(), W * H * 3);
        QCOMPARE_STATUS(MV_CC_ConvertPixelType(h, &p), MV_E_PARAMETER);
        p = param(PixelType_Gvsp_BayerRG8, src.data(), W * H, nullptr, W * H * 3);
        QCOMPARE_STATUS(MV_CC_ConvertPixelType(h, &p), MV_E_PARAMETER);
        QCOMPARE_STATUS(MV_CC_ConvertPixelType(h, nullptr), MV_E_PARAMETER);
        p = param(PixelType_Gvsp_BayerRG8, src.data(), W * H, dst.data(), W * H * 3);
        QCOMPARE_STATUS(MV_CC_ConvertPixelType(nullptr, &p), MV_E_HANDLE);
    }

    void conversionIsLoggedWithItsParameters()
    {
        std::vector<uint8_t> src = mosaic("RGGB"), dst(W * H * 3);
        VCC_CallLogClear();
        auto p = param(PixelType_Gvsp_BayerRG8, src.data(), W * H, dst.data(), W * H * 3);
        QCOMPARE_STATUS(MV_CC_ConvertPixelType(h, &p), MV_OK);
        QCOMPARE(VCC_CallLogCount(), 1);
        VCC_CALL_RECORD r{};
        QCOMPARE_STATUS(VCC_CallLogGet(0, &r), MV_OK);
        QCOMPARE(QString(r.function), QString("MV_CC_ConvertPixelType"));
        QCOMPARE(QString(r.value), QString("src=0x01080009 dst=0x02180014 w=16 h=12 srclen=192 dstsize=576"));
        QVERIFY(r.handle == h);
    }
};

QTEST_GUILESS_MAIN(TestSdkConversion)
#include "tst_sdk_conversion.moc"
