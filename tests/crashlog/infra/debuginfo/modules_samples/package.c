/* A library as another toolchain would build it: no debug information of ours, exported names
   that carry unit, class and procedure, package resources and a version resource. Built without
   optimisation so that every procedure sets up a frame (push ebp ... leave/pop ebp; ret). */

int FormsHandleException(int x) {
  int y = x * 3;
  return y + 1;
}

int Unit1Proc(int x) {
  int y = x + 7;
  return y;
}

int PlainGetVersion(void) {
  return 42;
}

/* Not exported: addresses inside it belong to the module only. */
int Hidden(int x) {
  int i, sum = 0;
  for (i = 0; i < x; ++i) sum += i * i;
  return sum;
}

int UseHidden(int x) { return Hidden(x); }
