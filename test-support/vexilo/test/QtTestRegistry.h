#pragma once

// Qt Test classes of one module register here, so that one executable per module
// can run them one class at a time (each class is its own ctest entry).

#include <QObject>

#include <functional>
#include <memory>

namespace vexilo::test {

using QtTestFactory = std::function<std::unique_ptr<QObject>()>;

// Adds a test class under its name; returns true so it can initialise a static.
bool registerQtTest(const char* className, QtTestFactory factory);

}  // namespace vexilo::test

// Registers a Qt Test class defined in the same file (that file includes its own .moc).
#define VEXILO_QT_TEST(ClassName)                                                        \
    namespace {                                                                          \
    [[maybe_unused]] const bool ClassName##Registered = ::vexilo::test::registerQtTest( \
        #ClassName, [] { return std::unique_ptr<QObject>(new ClassName); });             \
    }
