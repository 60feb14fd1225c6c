#pragma once

// QTest's waits for an event, with their limit written for a plain build (Qt's own default of
// 5 s where none is given) and stretched by timeScale() here: the limit only bounds a test whose
// event never comes, and a sanitizer build on a busy machine is not a stuck one.

#include <QTest>

#include "tests/support/TestTime.h"

namespace quenbril::test {

template <typename Predicate>
bool qWaitFor(Predicate predicate, int timeoutMs = 5000) {
    return QTest::qWaitFor(predicate, scaledMs(timeoutMs));
}

template <typename Window>
bool qWaitForWindowExposed(Window* window, int timeoutMs = 5000) {
    return QTest::qWaitForWindowExposed(window, scaledMs(timeoutMs));
}

template <typename Window>
bool qWaitForWindowActive(Window* window, int timeoutMs = 5000) {
    return QTest::qWaitForWindowActive(window, scaledMs(timeoutMs));
}

}  // namespace quenbril::test
