#include "platform/delay.h"

#include <QThread>

void delay_scaled_ms(int ms)
{
    if (ms > 0)
        QThread::msleep(static_cast<unsigned long>(ms));
}
