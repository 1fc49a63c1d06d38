// Fresh memory on these machines: the first touch of a page costs far more
// than filling it, most of it in the fault taken per 4 KiB page. Large
// buffers about to be filled ask the kernel to map them up front, in huge
// pages where it can. Both calls only change how pages are mapped, never what
// the memory holds, and are harmless where unsupported.
#pragma once

#include <cstddef>

namespace zantrix::framework {

// Backs [data, data + bytes) with huge pages where the kernel can: filling a
// large fresh buffer then takes one fault per 2 MiB instead of one per page.
void advise_huge_pages(void* data, std::size_t bytes) noexcept;

// Maps the whole pages of [data, data + bytes) now, in one request, in huge
// pages where it can; for buffers of 256 KiB and more.
void prefault(void* data, std::size_t bytes) noexcept;

}  // namespace zantrix::framework
