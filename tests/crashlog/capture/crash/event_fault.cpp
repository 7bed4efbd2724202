// An access violation in an event handler becomes an exception of the framework: it is reported
// with the registers of the fault, the program goes on, and a division by zero in a later tick is
// reported as well.
// EXIT: 0
// ENTRIES: 2
// LOG: ^  2\.4 Type *: (EAccessViolation|EDivByZero)\r$
// LOG: ^  2\.5 Message *: (Access violation at address [0-9A-F]{8} in module 'crash_event_fault\.exe'\. Write of address 00000010\.|Division by zero\.)\r$
// LOG_FIRST_STACK_ROW: \|event_fault\.cpp *\| *\|(StoreCount *\| *{@write}|Average *\| *{@divide}) *\|
// LOG: ^EAX: [0-9A-F]{8}   EDI: [0-9A-F]{8}\r$
#include "tests/crashlog/capture/crash/crash_support.h"

using namespace pelloran;

struct TCounter {
  int padding[4];
  int count;
};

__attribute__((noinline)) void StoreCount() {
  TCounter* counter = crashtest::Opaque<TCounter>(nullptr);
  counter->count = 1;  // @write
}

__attribute__((noinline)) void Average() {
  volatile int items = 0;
  volatile int total = 10;
  volatile int average = total / items;  // @divide
  (void)average;
}

int main() {
  crashlog::InstallReporter();
  crashtest::RunStepsInTimerTicks({StoreCount, Average});
  crashlog::UninstallReporter();
  return 0;
}
