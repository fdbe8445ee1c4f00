int main() { return 9; }
