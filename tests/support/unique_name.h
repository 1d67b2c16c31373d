// Names of kernel objects (pipes, events, mappings, folders) that no other
// test of this run, nor a test program running beside it, uses.
#ifndef TESTS_SUPPORT_UNIQUE_NAME_H
#define TESTS_SUPPORT_UNIQUE_NAME_H

#include <string>

namespace test_support {

// "bt.<tag>.<process id>.<serial>"; a new serial on every call.
std::wstring UniqueName(const std::wstring& tag = L"t");

}  // namespace test_support

#endif  // TESTS_SUPPORT_UNIQUE_NAME_H
