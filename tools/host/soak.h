// soak.h - capture while cameras are unplugged and plugged in again.
#ifndef LORVEXHOST_SOAK_H
#define LORVEXHOST_SOAK_H

#include "schedule.h"

#endif
