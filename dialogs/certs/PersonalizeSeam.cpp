#include "dialogs/certs/PersonalizeSeam.h"

namespace {

// User-interface thread only.
PersonalizeRunner& Runner() {
    static PersonalizeRunner runner;
    return runner;
}

} // namespace

void SetPersonalizeRunner(PersonalizeRunner runner) {
    Runner() = std::move(runner);
}

bool RunPersonalization(const std::string& readerName) {
    return Runner() ? Runner()(readerName) : false;
}
