/* A library with no exports, no version resource and no debug information of ours. */
static volatile int counter;

int PlainWork(int x) {
  int i;
  for (i = 0; i < x; ++i) counter += i;
  return counter;
}

int __stdcall DllMain(void* module, unsigned long reason, void* reserved) {
  (void)module;
  (void)reason;
  (void)reserved;
  return 1;
}
