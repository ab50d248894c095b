#pragma once

#include "update/Schedule.h"

#include <QDateTime>

namespace pellavo::test {

// A clock that shows whatever time the test sets.
class TestClock : public Clock {
public:
    explicit TestClock(const QDateTime& at = {}) : now(at) {}
    QDateTime LocalNow() const override { return now; }
    QDateTime now;
};

} // namespace pellavo::test
