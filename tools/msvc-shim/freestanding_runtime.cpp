// What a program built in Microsoft's ABI without a C runtime needs: the
// entry point, which runs main() and ends the process with its result, and
// the memory functions the compiler may call on its own.
#include <stddef.h>

#include <windows.h>

int main();

extern "C" {

void* memcpy(void* to, const void* from, size_t size);
void* memset(void* to, int value, size_t size);
int memcmp(const void* a, const void* b, size_t size);
void mainCRTStartup();

// The compiler turns these loops back into calls to the function itself
// unless told otherwise; the volatile pointers keep them loops.
void* memcpy(void* to, const void* from, size_t size) {
  volatile unsigned char* d = static_cast<unsigned char*>(to);
  const unsigned char* s = static_cast<const unsigned char*>(from);
  for (size_t i = 0; i < size; ++i) d[i] = s[i];
  return to;
}

void* memset(void* to, int value, size_t size) {
  volatile unsigned char* d = static_cast<unsigned char*>(to);
  for (size_t i = 0; i < size; ++i) d[i] = static_cast<unsigned char>(value);
  return to;
}

int memcmp(const void* a, const void* b, size_t size) {
  const unsigned char* x = static_cast<const unsigned char*>(a);
  const unsigned char* y = static_cast<const unsigned char*>(b);
  for (size_t i = 0; i < size; ++i) {
    if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
  }
  return 0;
}

void mainCRTStartup() { ExitProcess(static_cast<unsigned int>(main())); }

}  // extern "C"
