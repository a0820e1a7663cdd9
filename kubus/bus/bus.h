#pragma once

#include <QObject>

class QThread;

namespace Kubus {

// A bus object lives in the thread it is given; everything delivered to it through queued
// connections runs there.
class Bus : public QObject {
    Q_OBJECT
public:
    explicit Bus(QThread& thread);

public slots:
    void start();
    void stop();

protected:
    QThread* busThread;
};

} // namespace Kubus
