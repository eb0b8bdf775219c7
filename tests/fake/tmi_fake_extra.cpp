// Names a newer library might export besides the 39; railmon must ignore them.
#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))
FAKE_EXPORT int TMI_Reserved1(int) { return 0; }
FAKE_EXPORT int TMI_VoltageX(int, unsigned char, double) { return 0; }
