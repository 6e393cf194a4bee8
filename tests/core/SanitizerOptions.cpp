// Some tests ask for buffers larger than the address space to check that the failure surfaces as
// EOutOfMemory. The sanitizers' allocators abort on such requests unless told to answer nullptr
// like the system allocator does.
extern "C" {
const char* __asan_default_options() { return "allocator_may_return_null=1"; }
const char* __tsan_default_options() { return "allocator_may_return_null=1"; }
}
