// A shared object in the window module's place that is not one.
extern "C" int tallimo_not_a_window() {
  return 0;
}
