// soak.h - capture while cameras are unplugged and plugged in again.
#ifndef LORVEXHOST_SOAK_H
#define LORVEXHOST_SOAK_H

// The successor of (product, capture) when frames are counted with
// `capturesPerProduct` captures to a product.
struct ProductCapture
{
    int product = 0;
    int capture = 0;
};
ProductCapture nextNumbers(ProductCapture last, int capturesPerProduct);

#endif
