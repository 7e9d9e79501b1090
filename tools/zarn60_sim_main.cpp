// Replaced by the simulator work.
int main() { return 1; }
