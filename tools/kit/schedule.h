// schedule.h - the product/capture arithmetic every host of this project
// uses: which numbers the n-th frame of a run should carry, and which frame
// follows a given one.
#ifndef LORVEXKIT_SCHEDULE_H
#define LORVEXKIT_SCHEDULE_H

#include <QString>

// A frame's product and capture numbers (both from 1).
struct ProductCapture
{
    int product = 0;
    int capture = 0;

    bool operator==(const ProductCapture& o) const { return product == o.product && capture == o.capture; }
    bool operator!=(const ProductCapture& o) const { return !(*this == o); }
};

// The three numbers a frame carries.
struct FrameNumbers
{
    int product = 0;
    int capture = 0;
    int productInCycle = 0;

    bool operator==(const FrameNumbers& o) const
    {
        return product == o.product && capture == o.capture && productInCycle == o.productInCycle;
    }
    bool operator!=(const FrameNumbers& o) const { return !(*this == o); }
    QString text() const;
};

// Products of `capturesPerProduct` frames, grouped in cycles of
// `productsPerCycle` products. Values below 1 act like 1, as the plug-in's
// numbering does.
class ProductSchedule
{
public:
    ProductSchedule(int capturesPerProduct = 1, int productsPerCycle = 1);

    int capturesPerProduct() const { return cpp_; }
    int productsPerCycle() const { return ppc_; }

    // The numbers of the frame at `ordinal` (0 = the first frame of the run).
    FrameNumbers at(qint64 ordinal) const;
    // The frame after `last`.
    ProductCapture next(ProductCapture last) const;
    // Frames in `products` whole products.
    qint64 framesFor(qint64 products) const { return products * cpp_; }

private:
    int cpp_;
    int ppc_;
};

// The successor of (product, capture) with `capturesPerProduct` captures to
// a product.
ProductCapture nextNumbers(ProductCapture last, int capturesPerProduct);

#endif
