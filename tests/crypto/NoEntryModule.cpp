// A shared library that is not a provider module: it loads, but lacks the
// entry point.

extern "C" __attribute__((visibility("default"))) int VelkSomethingElse() {
    return 42;
}
