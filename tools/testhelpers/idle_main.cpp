// Test helper: carries a version resource only; running it does nothing.
int wmain(int, wchar_t**) { return 0; }
