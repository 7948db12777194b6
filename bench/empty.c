/* A program that does nothing: its run time is Wine's cost of starting and
   ending a process, which every whole-process time below includes. */
int wmain(void) { return 0; }
