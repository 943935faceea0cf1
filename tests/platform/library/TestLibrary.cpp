// A tiny shared object for the dynamic-library tests.
extern "C" {
__attribute__((visibility("default"))) int qel_test_add(int a, int b) { return a + b; }
__attribute__((visibility("default"))) int qel_test_answer = 42;
}
