// tarvexctl: command-line control of the emulator.
int main() { return 0; }
