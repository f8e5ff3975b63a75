// An empty Windows program: the yardstick for the launcher's own start-up cost.
int main() { return 0; }
