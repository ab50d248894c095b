#pragma once

#include <QString>
#include <QtTest>

namespace pellavo::test {

// Puts QStandardPaths into test mode, gives the process a private home and runtime
// folder, and clears proxy variables so that loopback traffic never leaves the
// machine. Runs before QCoreApplication exists.
void prepareEnvironment();

// Folder with the fixtures in tests/data.
QString dataDir();

} // namespace pellavo::test

// QTEST_MAIN with the environment prepared first.
#define PELLAVO_TEST_MAIN(TestObject)                                                                        \
    static const bool pellavoEnvironmentPrepared = (pellavo::test::prepareEnvironment(), true);              \
    QTEST_MAIN(TestObject)
