// A shared library without the extension exports, for the host's loading-error test.
extern "C" __attribute__((visibility("default"))) int NotAnExtension() { return 0; }
