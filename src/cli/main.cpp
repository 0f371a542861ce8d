// The norvisk command.
int main() { return 2; }
