/* Stand-in for libavdevice: reports FAKE_MAJOR as its major version and
   exports avdevice_register_all only when FAKE_WITH_REGISTER is defined. */
unsigned avdevice_version(void);
unsigned avdevice_version(void) { return (FAKE_MAJOR << 16) | (7 << 8) | 100; }

#ifdef FAKE_WITH_REGISTER
void avdevice_register_all(void);
void avdevice_register_all(void) {}
#endif
