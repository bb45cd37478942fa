// Runs the registered Qt Test classes of one module: `exe ClassName [qtest args]` runs one
// class, `exe` alone runs them all.

#include "vexilo/test/QtTestRegistry.h"

#include <QApplication>
#include <QTest>

#include <cstring>
#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace vexilo::test {
namespace {

std::map<std::string, QtTestFactory>& registry() {
    static std::map<std::string, QtTestFactory> classes;
    return classes;
}

int runClass(const QtTestFactory& factory, std::vector<char*> arguments) {
    const std::unique_ptr<QObject> testObject = factory();
    return QTest::qExec(testObject.get(), static_cast<int>(arguments.size()), arguments.data());
}

}  // namespace

bool registerQtTest(const char* className, QtTestFactory factory) {
    registry().emplace(className, std::move(factory));
    return true;
}

}  // namespace vexilo::test

// The address sanitizer of GCC 12 (and of LLVM before 17) takes the TLS block of a loaded library
// that starts 16 bytes past a page boundary for one carrying a header of glibc before 2.25, and
// reads that header from the 16 bytes before the block: the heap chunk's own header. The leak
// check at exit then scans the range those bytes make up and dies ("Tracer caught signal 11").
// Window tests load the platform plugin and the software GL driver, whose threads' TLS blocks
// land there now and then. Without the interception the leak check sees those blocks as the
// heap blocks they are.
extern "C" const char* __asan_default_options();
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options()
{
    return "intercept_tls_get_addr=0";
}

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    using vexilo::test::registry;

    std::vector<char*> qtestArguments{argv[0]};
    const char* selectedClass = nullptr;
    for (int index = 1; index < argc; ++index) {
        if (selectedClass == nullptr && argv[index][0] != '-' && registry().contains(argv[index])) {
            selectedClass = argv[index];
        } else {
            qtestArguments.push_back(argv[index]);
        }
    }
    if (argc > 1 && std::strcmp(argv[1], "--list-classes") == 0) {
        for (const auto& [name, factory] : registry()) std::cout << name << '\n';
        return 0;
    }
    if (selectedClass != nullptr) {
        return vexilo::test::runClass(registry().at(selectedClass), qtestArguments);
    }
    int failures = 0;
    for (const auto& [name, factory] : registry()) {
        failures += vexilo::test::runClass(factory, qtestArguments);
    }
    return failures == 0 ? 0 : 1;
}
